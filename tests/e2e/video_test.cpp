// Lenslet video with the real binary: raw YUV and Y4M sources (files, pipes,
// standard input) and per-view YUV and Y4M files against the PNG path on the
// same pictures, chunks and a killed run against one long run, and the
// refusals that come at a frame.
#include "io/view_videos.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/io/video_bytes.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::bytesOf;
using testing::shellQuote;
using Files = std::map<std::string, std::string>;

// The frame size of the D = 20 calibration of the sequence tests.
const cv::Size kFrame(200, 100);

// Writes into `dir` the calibration, frames 0 .. frames-1 as raw 8- and
// 10-bit files, as Y4M (colour and mono), and as PNG frames holding the
// pictures the pipeline must see (f%03d.png colour, g%03d.png grey).
void writeVideos(const std::string& dir, int frames) {
  testing::writeTextFile(dir + "/calib.xml", testing::kWorkedExampleCalibration);
  std::string raw8, raw10, y4m = "YUV4MPEG2 W200 H100 F30:1 Ip A1:1 C420jpeg\n";
  std::string mono = "YUV4MPEG2 W200 H100 F30:1 Ip A1:1 Cmono XCOLORRANGE=LIMITED\n";
  for (int k = 0; k < frames; ++k) {
    const cv::Mat planes = testing::videoPlanes(kFrame, k, false);
    const cv::Mat grey = testing::videoPlanes(kFrame, k, true);
    raw8 += bytesOf(planes);
    raw10 += testing::tenBitBytes(planes);
    y4m += (k == 1 ? "FRAME Ip\n" : "FRAME\n") + bytesOf(planes);
    mono += "FRAME\n" + bytesOf(grey);
    char name[32];
    std::snprintf(name, sizeof name, "/f%03d.png", k);
    cv::imwrite(dir + name, testing::videoPicture(planes, false));
    std::snprintf(name, sizeof name, "/g%03d.png", k);
    cv::imwrite(dir + name, grey);
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
  Files files = testing::filesIn(folder);
  while (!files.empty() && files.begin()->first.rfind(".done-", 0) == 0) files.erase(files.begin());
  return files;
}

// The view files --output-format `format` must write for frames 0 .. end-1,
// from the views of a PNG run: each frame's view converted (viewToPlanes,
// pinned by the io tests) at the frame's place, the name carrying the size.
Files videoFilesOf(const std::string& pngResult, const std::string& format, int n, int end,
                   int fps) {
  Files files;
  for (int x = 0; x < n; ++x) {
    for (int y = 0; y < n; ++y) {
      std::string bytes;
      cv::Size size;
      for (int k = 0; k < end; ++k) {
        const cv::Mat planes = viewToPlanes(
            cv::imread(pngResult + "/" + testing::viewFileName(k, x, y), cv::IMREAD_UNCHANGED));
        size = cv::Size(planes.cols, planes.rows * 2 / 3);
        bytes += (format == "y4m" ? "FRAME\n" : "") + bytesOf(planes);
      }
      char name[64];
      if (format == "y4m") {
        std::snprintf(name, sizeof name, "Result_c%02d%02d.y4m", x, y);
        files[name] = "YUV4MPEG2 W" + std::to_string(size.width) + " H" +
                      std::to_string(size.height) + " F" + std::to_string(fps) +
                      ":1 Ip A1:1 C420jpeg\n" + bytes;
      } else {
        std::snprintf(name, sizeof name, "Result_c%02d%02d-%dx%d.yuv", x, y, size.width,
                      size.height);
        files[name] = bytes;
      }
    }
  }
  return files;
}

bool haveProgram(const std::string& name) {
  return testing::runShell("command -v " + name).exitStatus == 0;
}

class LensletVideo : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    writeVideos(dir, 3);
  }

  // Runs plenoview in a fresh folder `name` inside dir, with the inputs one
  // level up; `input` goes before the command (a pipe into it, a redirection).
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

// Every input gives the views of PNG frames holding its pictures, and every
// output format holds those views converted, frame by frame.
TEST_F(LensletVideo, EveryInputAndOutputFormatGivesThePngPathsViews) {
  struct Case {
    std::string name, input, options, imagePath;
    bool grey;
    std::string range;   // given to the PNG run as well
    std::string format;  // --output-format
  };
  const std::string raw8 = "../seq_200x100_3frames_8bit_yuv420.yuv";
  std::vector<Case> cases = {
      {"raw8", "", "", raw8, false, "", "png"},
      {"raw10", "", "", "../seq_200x100_10bit.yuv", false, "", "png"},
      {"y4m", "", "", "../seq.y4m", false, "", "png"},
      {"mono", "", "", "../mono.y4m", true, "", "png"},
      {"pipe-y4m", "cat ../seq.y4m | ", "", "-", false, "", "png"},
      {"pipe-raw10", "cat ../seq_200x100_10bit.yuv | ", "--size 200x100 --pixel-format=yuv420p10le",
       "-", false, "", "png"},
      {"stdin-file", "exec <" + raw8 + "; ", "--size 200x100", "-", false, "", "png"},
      // Frames before the range are read from the pipe and dropped.
      {"pipe-range", "cat ../seq.y4m | ", "", "-", false, "--first-frame 1 ", "png"},
      {"out-yuv", "", "", "../seq.y4m", false, "", "yuv"},
      {"out-y4m", "", "--fps=25", "../seq.y4m", false, "", "y4m"},
      {"out-yuv-grey", "", "", "../mono.y4m", true, "", "yuv"},
      {"out-y4m-grey", "", "", "../mono.y4m", true, "", "y4m"},
  };
  // Y4M as a decoder writes it (with its extensions), 8- and 10-bit.
  const bool ffmpeg = haveProgram("ffmpeg");
  if (ffmpeg) {
    const std::string convert = "ffmpeg -v error -f rawvideo -s 200x100 -pix_fmt ";
    cases.push_back({"ffmpeg-8", convert + "yuv420p -i " + raw8 + " -f yuv4mpegpipe - | ", "", "-",
                     false, "", "png"});
    cases.push_back({"ffmpeg-10",
                     convert + "yuv420p10le -i ../seq_200x100_10bit.yuv -strict -1 -f "
                               "yuv4mpegpipe - | ",
                     "", "-", false, "", "png"});
  }
  for (const int n : {1, 4, 5}) {
    const std::string tail = " 3 " + std::to_string(n);
    std::map<std::string, testing::ProcessResult> pngRuns;  // folder -> run
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + ", N = " + std::to_string(n));
      const std::string png =
          std::string("png-") + (c.grey ? "g" : "f") + (c.range.empty() ? "" : "-r");
      if (pngRuns.count(png) == 0) {
        pngRuns[png] =
            run(png, "",
                c.range + "../calib.xml " + (c.grey ? "'../g%03d.png'" : "'../f%03d.png'") + tail);
        ASSERT_EQ(pngRuns[png].exitStatus, 0) << pngRuns[png].err;
      }
      const testing::ProcessResult got =
          run(c.name, c.input,
              c.options + " " + c.range + "--output-format " + c.format + " ../calib.xml " +
                  shellQuote(c.imagePath) + tail);
      EXPECT_EQ(got.exitStatus, 0) << got.err;
      EXPECT_EQ(withoutImagePath(got.out), withoutImagePath(pngRuns[png].out));
      const std::string pngResult = dir + "/" + png + "/Result";
      const int fps = c.options == "--fps=25" ? 25 : 30;
      const Files expected =
          c.format == "png" ? viewFiles(pngResult) : videoFilesOf(pngResult, c.format, n, 3, fps);
      EXPECT_EQ(expected.size(), (c.format != "png" ? 1u : c.range.empty() ? 3u : 2u) * n * n);
      EXPECT_TRUE(viewFiles(dir + "/" + c.name + "/Result") == expected);

      // A real reader of Y4M takes the view files as they are.
      if (c.format == "y4m" && ffmpeg) {
        testing::ProcessOptions options;
        options.workDir = dir + "/" + c.name;
        const testing::ProcessResult decoded = testing::runShell(
            "ffmpeg -v error -i Result/Result_c0000.y4m -f rawvideo -pix_fmt yuv420p -", options);
        EXPECT_EQ(decoded.exitStatus, 0) << decoded.err;
        std::string planes = expected.begin()->second;
        planes.erase(0, planes.find('\n') + 1);
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
    const testing::ProcessResult whole =
        run("long", "", "--output-format " + format + " ../calib.xml ../seq.y4m 12 5");
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
      testing::startPlenoview(
          background, killed,
          {"--no-window", "--output-format", format, "../calib.xml", "stream.y4m", "12", "5"});
      const std::string bytes = testing::readFile(dir + "/seq.y4m");
      const std::string sixFrames = bytes.substr(0, bytes.find('\n') + 1 + 6 * (6 + 30000) + 3);
      const int fifo = ::open((killed + "/stream.y4m").c_str(), O_WRONLY);
      ASSERT_GE(fifo, 0);
      ASSERT_EQ(::write(fifo, sixFrames.data(), sixFrames.size()),
                static_cast<ssize_t>(sixFrames.size()));
      EXPECT_TRUE(testing::waitUntil(std::chrono::seconds(60), [&] {
        return views.completeFrames(0, 12).size() == 6;
      })) << background.err();
      EXPECT_EQ(background.stop(), 128 + SIGKILL);
      ::close(fifo);
    }
    EXPECT_EQ(views.completeFrames(0, 12), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    const testing::ProcessResult resumed =
        testing::runPlenoview({"--no-window", "--resume", "--output-format", format, "../calib.xml",
                               "../seq.y4m", "12", "5"},
                              killed);
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.err;
    EXPECT_NE(resumed.err.find("resume: skipping 6 frame(s) whose views all exist: 0-5"),
              std::string::npos)
        << resumed.err;
    EXPECT_TRUE(viewFiles(killed + "/Result") == expected);
  }
}

// The bad-input matrix covers the refusals at opening; here those that come
// at a frame, after the views of the frames before it were written.
TEST_F(LensletVideo, AVideoEndingEarlyIsRefusedAtItsFrameAfterTheFramesBefore) {
  struct Case {
    std::string input, args;
    std::string message;  // after "plenoview: "
    int framesWritten;
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
    const Files views = testing::filesIn(dir + "/refused/Result");
    EXPECT_EQ(views.size(), 16u * c.framesWritten);
    for (const auto& [name, bytes] : views)
      EXPECT_LT(std::stoi(name.substr(8, 4)), c.framesWritten);
  }
}

}  // namespace
}  // namespace plenoview
