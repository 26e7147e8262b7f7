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
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::viewFileName;

struct SequenceCase {
  const char* name;
  std::vector<std::string> generator;  // plenoview-synth options
  int frames;
  int channels;
  bool windowsOutsideAtN1;  // the rim windows of the first lens row leave the view with N = 1
};

// The lens types' roles by their even-row reference x, compared as ints
// (truncated): left at the smallest, middle one diameter and right two
// diameters to its right; a role no type takes falls to type 0.
int roleType(const LensCalibration& c, int diameters) {
  double minX = c.subGridRefPos[0][0].x;
  for (int t = 1; t < 3; ++t) minX = std::min(minX, c.subGridRefPos[0][t].x);
  for (int t = 0; t < 3; ++t) {
    if (static_cast<int>(c.subGridRefPos[0][t].x) ==
        static_cast<int>(minX + diameters * c.diameter))
      return t;
  }
  return 0;
}

// The size of a saved view. The rendered view covers the right type's lens
// grid shrunk by s = (radius - 1) / diameter about its first lens, plus a
// diameter, plus N / 2:
//   width  = floor(N/2 + (s (xEnd - x0) + x0 + d)),  xEnd = (num.x - 1) 3d + x0
//   height = floor(N/2 + (s (yEnd - y0) + y0 + d)),  yEnd = sqrt(3) r (num.y - 1) + y0
// The crop keeps 8 trunc((width - 2 ox) / 8) x 8 trunc((height - 2 oy) / 8),
// (ox, oy) the middle type's first lens, and a grid turned by more than
// 0.7853981625 turns the views on their side.
cv::Size savedViewSize(const LensCalibration& c, int N) {
  const cv::Point2d ref = c.subGridRefPos[0][roleType(c, 2)];
  const double s = (c.radius - 1) / c.diameter;
  const double xEnd = (c.num.x - 1) * (c.diameter * 3) + ref.x;
  const double yEnd = (c.radius * std::sqrt(3.0)) * (c.num.y - 1) + ref.y;
  const int width = static_cast<int>(std::floor(N / 2 + (s * (xEnd - ref.x) + ref.x + c.diameter)));
  const int height =
      static_cast<int>(std::floor(N / 2 + (s * (yEnd - ref.y) + ref.y + c.diameter)));
  const cv::Point2d o = c.subGridRefPos[0][roleType(c, 1)];
  const int cw = 8 * static_cast<int>((width - 2 * o.x) * 0.125);
  const int ch = 8 * static_cast<int>((height - 2 * o.y) * 0.125);
  return std::abs(c.rotation) > 0.7853981625 ? cv::Size(ch, cw) : cv::Size(cw, ch);
}

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
  LensCalibration calib;
  readCalibration(calib, cv::imread(dir + "/seq/frame000.png", cv::IMREAD_UNCHANGED), calibPath);
  const int candidates = static_cast<int>(calib.diameter - 2) - 3 + 1;

  for (const int N : {1, 4, 5}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    const std::string work = dir + "/run" + std::to_string(N);
    fs::create_directory(work);
    const testing::ProcessResult r = testing::runPlenoview(
        {"--no-window", calibPath, pattern, std::to_string(c.frames), std::to_string(N)}, work);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err.find("plenoview: "), std::string::npos) << r.err;

    // Files: Result/ and nothing else, holding exactly frames x N x N views.
    std::set<std::string> top;
    for (const fs::directory_entry& e : fs::directory_iterator(work))
      top.insert(e.path().filename().string());
    EXPECT_EQ(top, std::set<std::string>{"Result"});
    std::set<std::string> expectedFiles;
    for (int f = 0; f < c.frames; ++f) {
      for (int x = 0; x < N; ++x) {
        for (int y = 0; y < N; ++y) expectedFiles.insert(viewFileName(f, x, y));
      }
    }
    std::set<std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(work + "/Result")) {
      files.insert(e.path().filename().string());
    }
    EXPECT_EQ(files, expectedFiles);

    const cv::Size size = savedViewSize(calib, N);
    ASSERT_GT(size.area(), 0);
    for (const std::string& name : expectedFiles) {
      const cv::Mat view = cv::imread(work + "/Result/" + name, cv::IMREAD_UNCHANGED);
      ASSERT_FALSE(view.empty()) << name;
      EXPECT_EQ(view.size(), size) << name;
      EXPECT_EQ(view.depth(), CV_8U) << name;
      EXPECT_EQ(view.channels(), c.channels) << name;
    }

    // stdout: the four argument lines and the grid report, then per frame its
    // counter and any window messages, and nothing else.
    const std::string head = "CalibPath: " + calibPath + "\nImagePath: " + pattern +
                             "\nImageNum: " + std::to_string(c.frames) +
                             "\nViewNum: " + std::to_string(N) + "\n" +
                             calib.microLensParameterReport();
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    const std::regex message(
        R"(Out of Roi Range: \((\d+),(\d+)\) -> \[(\d+) x (\d+) from \((-?\d+), (-?\d+)\)\]\n)");
    const int lens = static_cast<int>(calib.diameter);
    std::string::size_type at = head.size();
    int firstFrameMessages = -1;
    for (int f = 0; f < c.frames; ++f) {
      char counter[32];
      std::snprintf(counter, sizeof counter, "frameCnt:%04d\r", f);
      ASSERT_EQ(r.out.compare(at, std::string(counter).size(), counter), 0)
          << "frame " << f << " at byte " << at << ": " << r.out.substr(at, 40);
      at += std::string(counter).size();
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
INSTANTIATE_TEST_SUITE_P(
    Sequences, GeneratedSequenceCli,
    ::testing::Values(
        SequenceCase{"GreyTurned",
                     {"--grey", "--width", "150", "--height", "120", "--diameter", "9.4",
                      "--center", "0.3,0.2", "--rotation", "0.9", "--motion", "1,1"},
                     3,
                     1,
                     false},
        SequenceCase{"ColourFirstRowAtTheTop",
                     {"--colour", "--width", "120", "--height", "96", "--diameter", "9", "--center",
                      "0.3,-4.1", "--offsets", "2,0,0,0,1,0", "--motion", "2,0"},
                     2,
                     3,
                     true}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace plenoview
