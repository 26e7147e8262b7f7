// Lenslet video with the real binary: raw YUV and Y4M sources (files and
// pipes) against PNG frames holding the same pictures, per-view YUV and Y4M
// files against the PNG views, chunks and a killed run against one long run,
// and the refusals.
#include "io/view_videos.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::filesIn;
using testing::shellQuote;
using Files = std::map<std::string, std::string>;

// Frames of 200 x 100 for the D = 20 calibration of the sequence tests.
constexpr int kWidth = 200;
constexpr int kHeight = 100;

// The planes of frame k: I420 (150 rows) or Y alone (100 rows), different
// for every k.
cv::Mat framePlanes(int k, bool mono) {
  cv::Mat planes(mono ? kHeight : kHeight * 3 / 2, kWidth, CV_8UC1);
  cv::RNG rng(static_cast<uint64_t>(k) + 101);
  rng.fill(planes, cv::RNG::UNIFORM, 0, 256);
  return planes;
}

std::string planeBytes(const cv::Mat& planes) {
  return std::string(reinterpret_cast<const char*>(planes.data), planes.total());
}

// 10-bit little-endian words v << 2, with low bits that the reading drops.
std::string tenBitBytes(const cv::Mat& planes) {
  std::string bytes;
  for (size_t i = 0; i < planes.total(); ++i) {
    const unsigned word = static_cast<unsigned>(planes.data[i]) << 2 | (i % 4);
    bytes += static_cast<char>(word & 0xff);
    bytes += static_cast<char>(word >> 8);
  }
  return bytes;
}

// Writes into `dir` the calibration, frames 0 .. frames-1 as raw 8- and
// 10-bit files, as Y4M (colour and mono), and as PNG frames holding what the
// pipeline must see: cvtColor(YUV2BGR_I420) of the planes (f%03d.png), and
// the Y plane (g%03d.png).
void writeVideos(const std::string& dir, int frames) {
  testing::writeTextFile(dir + "/calib.xml", testing::kWorkedExampleCalibration);
  std::string raw8, raw10, y4m = "YUV4MPEG2 W200 H100 F30:1 Ip A1:1 C420jpeg\n";
  std::string mono = "YUV4MPEG2 W200 H100 F30:1 Ip A1:1 Cmono XCOLORRANGE=LIMITED\n";
  for (int k = 0; k < frames; ++k) {
    const cv::Mat planes = framePlanes(k, false);
    raw8 += planeBytes(planes);
    raw10 += tenBitBytes(planes);
    y4m += (k == 1 ? "FRAME Ip\n" : "FRAME\n") + planeBytes(planes);
    mono += "FRAME\n" + planeBytes(framePlanes(k, true));
    cv::Mat bgr;
    cv::cvtColor(planes, bgr, cv::COLOR_YUV2BGR_I420);
    char name[32];
    std::snprintf(name, sizeof name, "/f%03d.png", k);
    cv::imwrite(dir + name, bgr);
    std::snprintf(name, sizeof name, "/g%03d.png", k);
    cv::imwrite(dir + name, framePlanes(k, true));
  }
  testing::writeTextFile(dir + "/seq_200x100_3frames_8bit_yuv420.yuv", raw8);
  testing::writeTextFile(dir + "/seq_200x100_10bit.yuv", raw10);
  testing::writeTextFile(dir + "/seq.y4m", y4m);
  testing::writeTextFile(dir + "/mono.y4m", mono);
}

// stdout without its "ImagePath:" line, the one line that names the input.
std::string withoutImagePath(const std::string& out) {
  const size_t at = out.find("ImagePath: ");
  if (at == std::string::npos) return out;
  return out.substr(0, at) + out.substr(out.find('\n', at) + 1);
}

// Result/ without the journals, which differ from run to run by their token.
Files viewFiles(const std::string& folder) {
  Files files = filesIn(folder);
  for (auto it = files.begin(); it != files.end();) {
    it = it->first.rfind(".done-", 0) == 0 ? files.erase(it) : std::next(it);
  }
  return files;
}

class LensletVideo : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    writeVideos(dir, 3);
  }

  // Runs plenoview in a fresh folder `name` inside dir, with the inputs one
  // level up; `input` goes before the command (for a pipe into it).
  testing::ProcessResult run(const std::string& name, const std::string& input,
                             const std::string& args) {
    const std::string folder = dir + "/" + name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    testing::ProcessOptions options;
    options.workDir = folder;
    options.environment = testing::kNoDisplay;
    return testing::runShell(input + shellQuote(PLENOVIEW_BINARY) + " --no-window " + args,
                             options);
  }

  std::string dir;
};

bool haveProgram(const std::string& name) {
  return testing::runShell("command -v " + name).exitStatus == 0;
}

TEST_F(LensletVideo, ViewsAreThoseOfPngFramesHoldingTheConvertedPictures) {
  struct Case {
    std::string name;
    std::string input;      // a pipe into plenoview, or ""
    std::string imagePath;  // from the run's folder
    std::string options;
    std::string reference;  // the PNG frames that hold the same pictures, and their options
  };
  std::vector<Case> cases = {
      {"raw8", "", "../seq_200x100_3frames_8bit_yuv420.yuv", "", "../f%03d.png"},
      {"raw10", "", "../seq_200x100_10bit.yuv", "", "../f%03d.png"},
      {"y4m", "", "../seq.y4m", "", "../f%03d.png"},
      {"mono", "", "../mono.y4m", "", "../g%03d.png"},
      {"pipe-y4m", "cat ../seq.y4m | ", "-", "", "../f%03d.png"},
      {"pipe-raw10", "cat ../seq_200x100_10bit.yuv | ", "-",
       "--size 200x100 --pixel-format=yuv420p10le", "../f%03d.png"},
      // Frames before the range are read from the pipe and dropped.
      {"pipe-range", "cat ../seq.y4m | ", "-", "--first-frame 1", "--first-frame 1 ../f%03d.png"},
  };
  // Y4M as a decoder writes it (with its extensions), 8- and 10-bit.
  if (haveProgram("ffmpeg")) {
    const std::string ffmpeg = "ffmpeg -v error -f rawvideo -s 200x100 -pix_fmt ";
    cases.push_back(
        {"ffmpeg-8",
         ffmpeg + "yuv420p -i ../seq_200x100_3frames_8bit_yuv420.yuv " + "-f yuv4mpegpipe - | ",
         "-", "", "../f%03d.png"});
    cases.push_back(
        {"ffmpeg-10",
         ffmpeg + "yuv420p10le -i ../seq_200x100_10bit.yuv " + "-strict -1 -f yuv4mpegpipe - | ",
         "-", "", "../f%03d.png"});
  }
  for (const int n : {1, 4, 5}) {
    const std::string tail = " 3 " + std::to_string(n);
    std::map<std::string, testing::ProcessResult> references;
    std::map<std::string, Files> referenceViews;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + ", N = " + std::to_string(n));
      if (references.count(c.reference) == 0) {
        const std::string refArgs = c.reference.substr(0, c.reference.rfind(' ') + 1) +
                                    "../calib.xml " +
                                    shellQuote(c.reference.substr(c.reference.rfind(' ') + 1));
        references[c.reference] = run("reference", "", refArgs + tail);
        ASSERT_EQ(references[c.reference].exitStatus, 0) << references[c.reference].err;
        referenceViews[c.reference] = filesIn(dir + "/reference/Result");
      }
      const testing::ProcessResult got =
          run(c.name, c.input, c.options + " ../calib.xml " + shellQuote(c.imagePath) + tail);
      EXPECT_EQ(got.exitStatus, 0) << got.err;
      EXPECT_EQ(withoutImagePath(got.out), withoutImagePath(references[c.reference].out));
      const Files views = filesIn(dir + "/" + c.name + "/Result");
      EXPECT_EQ(views.size(), referenceViews[c.reference].size());
      EXPECT_TRUE(views == referenceViews[c.reference]);
    }
  }
}

// The I420 planes a view file must hold for a view as the PNG path wrote it:
// cvtColor(BGR2YUV_I420) of a colour view, the view and neutral chroma for a
// grey one.
std::string expectedPlanes(const cv::Mat& view) {
  if (view.channels() == 3) {
    cv::Mat planes;
    cv::cvtColor(view, planes, cv::COLOR_BGR2YUV_I420);
    return planeBytes(planes);
  }
  return planeBytes(view) + std::string(view.total() / 2, static_cast<char>(128));
}

TEST_F(LensletVideo, ViewFilesHoldEveryFramesConvertedViewAtItsPlace) {
  for (const bool grey : {false, true}) {
    const testing::ProcessResult png =
        run("png", "",
            std::string("../calib.xml ") + (grey ? "'../g%03d.png'" : "'../f%03d.png'") + " 3 4");
    ASSERT_EQ(png.exitStatus, 0) << png.err;
    for (const std::string format : {"yuv", "y4m"}) {
      SCOPED_TRACE(format + (grey ? " grey" : " colour"));
      const bool y4m = format == "y4m";
      const testing::ProcessResult got =
          run(format, "",
              "--output-format " + format + (y4m ? " --fps=25" : "") + " ../calib.xml " +
                  (grey ? "../mono.y4m" : "../seq.y4m") + " 3 4");
      ASSERT_EQ(got.exitStatus, 0) << got.err;
      EXPECT_EQ(got.out, png.out.substr(0, png.out.find("ImagePath: ")) + "ImagePath: ../" +
                             (grey ? "mono.y4m" : "seq.y4m") +
                             png.out.substr(png.out.find('\n', png.out.find("ImagePath: "))));

      Files expected;
      cv::Size size;
      for (int x = 0; x < 4; ++x) {
        for (int y = 0; y < 4; ++y) {
          std::string frames;
          for (int k = 0; k < 3; ++k) {
            char name[64];
            std::snprintf(name, sizeof name, "/png/Result/Result_f%04d_c%02d%02d.png", k, x, y);
            const cv::Mat view = cv::imread(dir + name, cv::IMREAD_UNCHANGED);
            ASSERT_EQ(view.channels(), grey ? 1 : 3);
            // These views have even sides; odd ones are padded (io tests).
            ASSERT_TRUE(view.cols % 2 == 0 && view.rows % 2 == 0);
            size = view.size();
            frames += (y4m ? "FRAME\n" : "") + expectedPlanes(view);
          }
          char name[64];
          if (y4m) {
            std::snprintf(name, sizeof name, "Result_c%02d%02d.y4m", x, y);
            expected[name] = "YUV4MPEG2 W" + std::to_string(size.width) + " H" +
                             std::to_string(size.height) + " F25:1 Ip A1:1 C420jpeg\n" + frames;
          } else {
            std::snprintf(name, sizeof name, "Result_c%02d%02d-%dx%d.yuv", x, y, size.width,
                          size.height);
            expected[name] = frames;
          }
        }
      }
      const Files files = filesIn(dir + "/" + format + "/Result");
      EXPECT_TRUE(viewFiles(dir + "/" + format + "/Result") == expected);
      // And one journal, which sorts first (a hidden file).
      ASSERT_EQ(files.size(), expected.size() + 1);
      const auto& [journal, lines] = *files.begin();
      EXPECT_EQ(journal.rfind(".done-" + format + "-4x4-", 0), 0u) << journal;
      const std::string sizeText = std::to_string(size.width) + "x" + std::to_string(size.height);
      EXPECT_EQ(lines, "0 " + sizeText + "\n1 " + sizeText + "\n2 " + sizeText + "\n");

      // A real reader of Y4M takes the view files as they are.
      if (y4m && haveProgram("ffmpeg")) {
        testing::ProcessOptions options;
        options.workDir = dir + "/" + format;
        const testing::ProcessResult decoded = testing::runShell(
            "ffmpeg -v error -i Result/Result_c0102.y4m -f rawvideo -pix_fmt yuv420p -", options);
        EXPECT_EQ(decoded.exitStatus, 0) << decoded.err;
        std::string planes = expected["Result_c0102.y4m"];
        planes = planes.substr(planes.find('\n') + 1);
        for (size_t at; (at = planes.find("FRAME\n")) != std::string::npos;) planes.erase(at, 6);
        EXPECT_TRUE(decoded.out == planes);
      }
    }
  }
}

TEST_F(LensletVideo, ChunksAtOnceAndAKilledThenResumedRunWriteTheFilesOfOneLongRun) {
  writeVideos(dir, 12);
  const bool chunks = haveProgram("parallel");
  for (const std::string format : {"yuv", "y4m"}) {
    SCOPED_TRACE(format);
    const std::string args = "--output-format " + format + " ../calib.xml ../seq.y4m 12 5";
    const testing::ProcessResult whole = run("long", "", args);
    ASSERT_EQ(whole.exitStatus, 0) << whole.err;
    const Files expected = viewFiles(dir + "/long/Result");
    ASSERT_EQ(expected.size(), 25u);

    // Four chunks at once, all writing into the same view files.
    if (chunks) {
      const std::string folder = dir + "/chunks-" + format;
      fs::create_directories(folder);
      testing::ProcessOptions options;
      options.workDir = folder;
      const testing::ProcessResult split = testing::runProcess(
          {std::string(PLENOVIEW_SOURCE_DIR) + "/scripts/run-parallel", "-c", "4", "-j", "4", "-p",
           PLENOVIEW_BINARY, "../calib.xml", "../seq.y4m", "12", "5", "--output-format", format},
          options);
      EXPECT_EQ(split.exitStatus, 0) << split.err;
      EXPECT_TRUE(viewFiles(folder + "/Result") == expected);
    }

    // Killed while it waits for frame 6 of a stream that delivered frames 0
    // .. 5, then resumed from the file.
    const std::string killed = dir + "/killed-" + format;
    fs::create_directories(killed);
    ASSERT_EQ(::mkfifo((killed + "/stream.y4m").c_str(), 0600), 0);
    const ViewVideoFiles views(
        killed, format == "yuv" ? ViewVideoFormat::kYuv : ViewVideoFormat::kY4m, 5, 30);
    {
      testing::BackgroundProcess background;
      testing::ProcessOptions options;
      options.workDir = killed;
      options.environment = testing::kNoDisplay;
      background.start(testing::plenoviewCommand({"--no-window", "--output-format", format,
                                                  "../calib.xml", "stream.y4m", "12", "5"}),
                       options, killed + "/.out", killed + "/.err");
      const std::string bytes = testing::readFile(dir + "/seq.y4m");
      const std::string sixFrames = bytes.substr(0, bytes.find('\n') + 1 + 6 * (6 + 30000) + 3);
      const int fifo = ::open((killed + "/stream.y4m").c_str(), O_WRONLY);
      ASSERT_GE(fifo, 0);
      ASSERT_EQ(::write(fifo, sixFrames.data(), sixFrames.size()),
                static_cast<ssize_t>(sixFrames.size()));
      EXPECT_TRUE(testing::waitUntil(std::chrono::seconds(60), [&] {
        return views.completeFrames(0, 12).size() == 6;
      })) << background.err();
      background.signal(SIGKILL);
      EXPECT_EQ(background.wait(), 128 + SIGKILL);
      ::close(fifo);
    }
    EXPECT_EQ(views.completeFrames(0, 12), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    const std::vector<std::string> resume = {
        "--no-window", "--resume", "--output-format", format, "../calib.xml", "../seq.y4m",
        "12",          "5"};
    const testing::ProcessResult resumed = testing::runPlenoview(resume, killed);
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.err;
    EXPECT_NE(resumed.err.find("resume: skipping 6 frame(s) whose views all exist: 0-5"),
              std::string::npos)
        << resumed.err;
    EXPECT_TRUE(viewFiles(killed + "/Result") == expected);
  }
}

// The bad-input matrix (tests/driver) covers the refusals at opening; here
// those that come at a frame, after the frames before it were written.
TEST_F(LensletVideo, AVideoEndingEarlyIsRefusedAtItsFrameAfterTheFramesBefore) {
  struct Case {
    std::string input;
    std::string args;
    std::string message;  // after "plenoview: "
    int framesWritten;    // frames before the refused one, whose views are all there
  };
  const std::string seq = "../seq_200x100_3frames_8bit_yuv420.yuv";
  const Case cases[] = {
      {"", "--first-frame 3 " + seq + " 3", "frame 3: \"" + seq + "\" holds 3 frames (0 .. 2)", 0},
      {"head -c 75000 " + seq + " | ", "--size 200x100 - 3",
       "frame 2: standard input ends inside this frame, after 15000 of its 30000 bytes", 2},
      {"cat ../seq.y4m | ", "- 5",
       "frame 3: standard input ends before this frame, after 3 frames (0 .. 2)", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const testing::ProcessResult got = run("refused", c.input, "../calib.xml " + c.args + " 4");
    EXPECT_EQ(got.exitStatus, 1);
    const std::string first = got.err.substr(0, got.err.find('\n') + 1);
    EXPECT_EQ(first, "plenoview: " + c.message + "\n");
    // Only the closing summary may follow, once the frames were in play.
    const std::string rest = got.err.substr(first.size());
    EXPECT_TRUE(rest.empty() ||
                (rest.rfind("summary: ", 0) == 0 && rest.find('\n') == rest.size() - 1))
        << rest;
    int views = 0;
    for (const auto& [name, bytes] : filesIn(dir + "/refused/Result")) {
      views += 1;
      EXPECT_LT(std::stoi(name.substr(8, 4)), c.framesWritten) << name;
    }
    EXPECT_EQ(views, 16 * c.framesWritten);
  }
}

}  // namespace
}  // namespace plenoview
