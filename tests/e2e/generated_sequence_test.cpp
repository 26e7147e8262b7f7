// The real plenoview on short generated sequences, grey and colour, with 1, 4
// and 5 views per side: the files it writes, their sizes and channels, and
// every byte of its console output.

#include "calibration/lens_calibration.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

struct SequenceCase {
  const char* name;
  std::vector<std::string> generator;  // plenoview-synth options
  int frames;
  int channels;
  bool windowsOutsideAtN1;  // the rim windows of the first lens row leave the view with N = 1
  cv::Size saved;           // a saved view, the same for N = 1, 4 and 5
};

class GeneratedSequenceCli : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(GeneratedSequenceCli, WritesEveryViewOfEveryFrameAndPrintsOnlyItsOwnLines) {
  const SequenceCase& c = GetParam();
  const std::string dir = testing::makeTestDir();
  std::vector<std::string> generator = {"--out", "seq", "--frames", std::to_string(c.frames)};
  generator.insert(generator.end(), c.generator.begin(), c.generator.end());
  const testing::ProcessResult made = testing::runSynth(generator, dir);
  ASSERT_EQ(made.exitStatus, 0) << made.err;

  const std::string calibPath = dir + "/seq/calib.xml";
  const std::string pattern = dir + "/seq/frame%03d.png";
  // Both grids have lenses 9 pixels across: candidates 3 .. 9 - 2, five.
  const int lens = 9;
  const int candidates = 5;
  LensCalibration calib;
  readCalibration(calib, cv::imread(dir + "/seq/frame000.png", cv::IMREAD_UNCHANGED), calibPath);

  for (const int N : {1, 4, 5}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    const std::string work = dir + "/run" + std::to_string(N);
    fs::create_directory(work);
    const testing::ProcessResult r = testing::runPlenoview(
        {"--no-window", calibPath, pattern, std::to_string(c.frames), std::to_string(N)}, work);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err.find("plenoview: "), std::string::npos) << r.err;

    // Files: Result/ and nothing else, holding exactly frames x N x N views.
    EXPECT_EQ(testing::namesIn(work), std::vector<std::string>{"Result"});
    std::vector<std::string> expectedFiles = testing::viewFileNames(0, c.frames, N);
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(testing::namesIn(work + "/Result"), expectedFiles);

    for (const std::string& name : expectedFiles) {
      const cv::Mat view = cv::imread(work + "/Result/" + name, cv::IMREAD_UNCHANGED);
      ASSERT_FALSE(view.empty()) << name;
      EXPECT_EQ(view.size(), c.saved) << name;
      EXPECT_EQ(view.depth(), CV_8U) << name;
      EXPECT_EQ(view.channels(), c.channels) << name;
    }

    // stdout: the four argument lines and the grid report, then per frame its
    // counter and any window messages, and nothing else.
    const std::string head =
        testing::argumentLines(calibPath, pattern, std::to_string(c.frames), N) +
        calib.microLensParameterReport();
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    const std::regex message(
        R"(Out of Roi Range: \((\d+),(\d+)\) -> \[(\d+) x (\d+) from \((-?\d+), (-?\d+)\)\]\n)");
    std::string::size_type at = head.size();
    int firstFrameMessages = -1;
    for (int f = 0; f < c.frames; ++f) {
      const std::string counter = testing::frameCounters(f, f + 1);
      ASSERT_EQ(r.out.compare(at, counter.size(), counter), 0)
          << "frame " << f << " at byte " << at << ": " << r.out.substr(at, 40);
      at += counter.size();
      int messages = 0;
      std::smatch m;
      while (std::regex_search(r.out.cbegin() + at, r.out.cend(), m, message,
                               std::regex_constants::match_continuous)) {
        // The window really lies outside the image, and it is a lens window:
        // the lens mask (d) or the rim mask (d + 2) of the estimation.
        const int W = std::stoi(m[1]), H = std::stoi(m[2]), w = std::stoi(m[3]),
                  h = std::stoi(m[4]);
        const int x = std::stoi(m[5]), y = std::stoi(m[6]);
        EXPECT_TRUE(x < 0 || y < 0 || x + w > W || y + h > H) << m.str();
        EXPECT_TRUE(w == h && (w == lens || w == lens + 2)) << m.str();
        at += m.length(0);
        ++messages;
      }
      // The grid and the view do not change between frames, nor do the
      // windows outside; the estimation prints one line per candidate.
      if (f == 0) firstFrameMessages = messages;
      EXPECT_EQ(messages, firstFrameMessages) << "frame " << f;
      EXPECT_EQ(messages % candidates, 0) << "frame " << f;
      if (N == 1) {
        EXPECT_EQ(messages > 0, c.windowsOutsideAtN1) << "frame " << f;
      }
    }
    EXPECT_EQ(at, r.out.size()) << "unexpected output: " << r.out.substr(at, 80);
  }
}

// Grey: a fractional diameter and a grid turned by 0.9 radians, so that every
// view is turned on its side. Colour: the first lens row a little less than
// a pixel below a radius from the top, so that with N = 1 (no view border)
// the rim windows of the first row reach above the view and are reported.
//
// The saved sizes, by hand. The reader: centre (W/2 + dx, H/2 - file dy), the
// file's dy being the generator's with its sign turned; r = D/2; rows above
// = trunc((cy - r) / (sqrt 3 r)); columns from left = (cx - r) / D and right
// = (W - cx - r) / D, one more when left's remainder exceeds 0.5 or right's
// reaches it; num.x = columns / 3. Per type, K = cx - (ox + oy) D; the
// reference x of the centre row's class is K - trunc((K - r) / 3D) 3D, that
// of the other class the same from K - (r + D). The even rows' y: the same
// in steps of sqrt(3) D from cy (from cy - sqrt(3) r when the centre row is
// odd).
// Roles by the even-row x, truncated: left the smallest, middle one D and
// right two D to its right. The view: with s = (r - 1) / D and the right
// type's first even-row lens (x0, y0),
//   width  = floor(N/2 + s 3D (num.x - 1) + x0 + D),
//   height = floor(N/2 + s sqrt(3) r (num.y - 1) + y0 + D);
// the crop keeps 8 trunc((width - 2 ox) / 8) x 8 trunc((height - 2 oy) / 8)
// about the middle type's lens (ox, oy) (here always inside the view), and a
// turn beyond 0.785 turns it.
//
// Grey, 150 x 120, D = 9.4, centre (75.3, 60.2): rows 6 + 1 + 6 = 13; left
// 7.51 and right 7.45, 15 columns, num.x = 5. Centre row class even; K =
// 75.3, 65.9, 56.5 give x 18.9, 9.5, 28.3; y = 60.2 - 3 x 16.281 = 11.356.
// Left type 1, middle type 0, right type 2. s x 3D x 4 = 44.4, so width =
// floor(N/2 + 82.1) = 82, 84, 84; s sqrt(3) r x 12 = 22.2 sqrt 3 = 38.452,
// height = floor(N/2 + 59.208) = 59, 61, 61. Crop: (82 - 37.8) / 8 and
// (84 - 37.8) / 8 keep 40, (59 - 22.71) / 8 and (61 - 22.71) / 8 keep 32;
// turned: 32 x 40.
//
// Colour, 120 x 96, D = 9, centre (60.3, 43.9), type offsets 2, 0, 1: rows
// 5 + 1 + 6 = 12; left 6.2 and right 6.13, 12 columns, num.x = 4. Centre row
// class odd, so the even rows come from K - 13.5 = 28.8, 46.8, 37.8: x 28.8,
// 19.8, 10.8; y = 36.106 - 2 x 15.588 = 4.929. Left type 2, middle type 1,
// right type 0. s x 3D x 3 = 31.5, width = floor(N/2 + 69.3) = 69, 71, 71;
// s sqrt(3) r x 11 = 19.25 sqrt 3 = 33.342, height = floor(N/2 + 47.271) =
// 47, 49, 49. Crop: (69 - 39.6) / 8 and (71 - 39.6) / 8 keep 24, (47 - 9.86)
// / 8 and (49 - 9.86) / 8 keep 32: 24 x 32.
INSTANTIATE_TEST_SUITE_P(
    Sequences, GeneratedSequenceCli,
    ::testing::Values(
        SequenceCase{"GreyTurned",
                     {"--grey", "--width", "150", "--height", "120", "--diameter", "9.4",
                      "--center", "0.3,0.2", "--rotation", "0.9", "--motion", "1,1"},
                     3,
                     1,
                     false,
                     {32, 40}},
        SequenceCase{"ColourFirstRowAtTheTop",
                     {"--colour", "--width", "120", "--height", "96", "--diameter", "9", "--center",
                      "0.3,-4.1", "--offsets", "2,0,0,0,1,0", "--motion", "2,0"},
                     2,
                     3,
                     true,
                     {24, 32}}),
    testing::CaseName());

}  // namespace
}  // namespace plenoview
