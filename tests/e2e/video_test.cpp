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

#include <algorithm>
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

using testing::bytesOf;
using testing::shellQuote;
using Files = std::map<std::string, std::string>;

const std::string kPlenoview = shellQuote(PLENOVIEW_BINARY) + " --no-window ";

// Writes into `dir` the calibration (D = 20, 200 x 100 frames), frames 0 ..
// frames-1 as raw 8- and 10-bit files, as Y4M (colour and mono), and as PNG
// frames holding the pictures the pipeline must see (f%03d.png colour,
// g%03d.png grey).
void writeVideos(const std::string& dir, int frames) {
  testing::writeTextFile(dir + "/calib.xml", testing::CalibrationXml());
  std::string raw8, raw10, y4m = "YUV4MPEG2 W200 H100 F30:1 Ip A1:1 C420jpeg\n";
  std::string mono = "YUV4MPEG2 W200 H100 F30:1 Ip A1:1 Cmono XCOLORRANGE=LIMITED\n";
  for (int k = 0; k < frames; ++k) {
    const cv::Mat planes = testing::videoPlanes({200, 100}, k, false);
    const cv::Mat grey = testing::videoPlanes({200, 100}, k, true);
    raw8 += bytesOf(planes);
    raw10 += testing::tenBitBytes(planes);
    y4m += (k == 1 ? "FRAME Ip\n" : "FRAME\n") + bytesOf(planes);
    mono += "FRAME\n" + bytesOf(grey);
    char name[32];
    std::snprintf(name, sizeof name, "/f%03d.png", k);
    cv::imwrite(dir + name, testing::videoPicture(planes, false));
    name[1] = 'g';
    cv::imwrite(dir + name, grey);
  }
  testing::writeTextFile(dir + "/seq_200x100_3frames_8bit_yuv420.yuv", raw8);
  testing::writeTextFile(dir + "/seq_200x100_10bit.yuv", raw10);
  testing::writeTextFile(dir + "/seq.y4m", y4m);
  testing::writeTextFile(dir + "/mono.y4m", mono);
}

// What a run with --output-format `format` over frames first .. end-1 must
// leave in Result/, from the views of a PNG run over the same pictures: those
// views, or each converted (viewToPlanes, pinned by the io tests) and
// appended to its view's file, whose name carries the padded size.
Files expectedViews(const Files& png, const std::string& format, int first, int end, int fps) {
  Files files;
  std::map<std::string, std::pair<cv::Size, std::string>> videos;  // "XXYY" -> size, frames
  for (const auto& [name, bytes] : png) {  // "Result_fFFFF_cXXYY.png", frame by frame
    const int frame = std::stoi(name.substr(8, 4));
    if (frame < first || frame >= end) continue;
    if (format == "png") files[name] = bytes;
    if (format == "png") continue;
    const cv::Mat planes = viewToPlanes(
        cv::imdecode(std::vector<uchar>(bytes.begin(), bytes.end()), cv::IMREAD_UNCHANGED));
    auto& [size, frames] = videos[name.substr(14, 4)];
    size = cv::Size(planes.cols, planes.rows * 2 / 3);
    frames += (format == "y4m" ? "FRAME\n" : "") + bytesOf(planes);
  }
  for (const auto& [xy, video] : videos) {
    const std::string w = std::to_string(video.first.width), h = std::to_string(video.first.height);
    if (format == "yuv") files["Result_c" + xy + "-" + w + "x" + h + ".yuv"] = video.second;
    if (format == "y4m") {
      files["Result_c" + xy + ".y4m"] = "YUV4MPEG2 W" + w + " H" + h + " F" + std::to_string(fps) +
                                        ":1 Ip A1:1 C420jpeg\n" + video.second;
    }
  }
  return files;
}

// stdout from its "ImageNum:" line on: the lines before name the inputs.
std::string fromImageNum(const std::string& out) {
  return out.substr(std::min(out.size(), out.find("ImageNum: ")));
}

class LensletVideo : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    writeVideos(dir, 3);
  }

  struct Run {
    testing::ProcessResult process;
    Files views;  // Result/: nothing but the views
  };

  // Runs the shell command `command` in folder `name` of dir, where the
  // inputs are one level up, and collects the views it left.
  Run run(const std::string& name, const std::string& command) {
    testing::ProcessOptions options;
    options.workDir = dir + "/" + name;
    options.environment = testing::kNoDisplay;
    std::filesystem::create_directories(options.workDir);
    return {testing::runShell(command, options), testing::filesIn(options.workDir + "/Result")};
  }

  std::string dir;
};

// Every input gives the views of PNG frames holding its pictures, and every
// output format holds those views converted, frame by frame. A video ending
// early is refused at its frame with one line (the bad-input matrix covers
// the refusals at opening), after the views of the frames before it.
TEST_F(LensletVideo, EveryInputAndOutputFormatGivesThePngPathsViews) {
  struct Case {
    std::string input, args;   // a command feeding the binary; options and the ImagePath
    int first;                 // --first-frame
    std::string format;        // --output-format
    std::string refusal = "";  // "frame K: ..." after "plenoview: "
  };
  const std::string raw8 = "../seq_200x100_3frames_8bit_yuv420.yuv";
  std::vector<Case> cases = {
      {"", raw8, 0, "png"},
      {"", "../seq_200x100_10bit.yuv", 0, "png"},
      {"", "../seq.y4m", 0, "png"},
      {"", "../mono.y4m", 0, "png"},
      {"cat ../seq.y4m | ", "-", 0, "png"},
      {"cat ../seq_200x100_10bit.yuv | ", "--size 200x100 --pixel-format=yuv420p10le -", 0, "png"},
      {"exec <" + raw8 + "; ", "--size 200x100 -", 0, "png"},
      {"cat ../seq.y4m | ", "-", 1, "png"},  // frames before the range read and dropped
      {"", "../seq.y4m", 0, "yuv"},
      {"", "--fps=25 ../seq.y4m", 0, "y4m"},
      {"", "../mono.y4m", 0, "y4m"},
      {"", raw8, 3, "png", "frame 3: \"" + raw8 + "\" holds 3 frames (0 .. 2)"},
      {"head -c 75000 " + raw8 + " | ", "--size 200x100 -", 0, "png",
       "frame 2: standard input ends inside this frame, after 15000 of its 30000 bytes"},
      {"head -c 60058 ../seq.y4m | ", "-", 0, "y4m",  // the 43-byte header and frames 0 and 1
       "frame 2: standard input ends before this frame, after 2 frames (0 .. 1)"},
  };
  // Y4M as a decoder writes it (with its extensions), 8- and 10-bit.
  const bool ffmpeg = testing::runShell("command -v ffmpeg").exitStatus == 0;
  const std::string convert = "ffmpeg -v error -f rawvideo -s 200x100 -pix_fmt ";
  if (ffmpeg) {
    cases.push_back({convert + "yuv420p -i " + raw8 + " -f yuv4mpegpipe - | ", "-", 0, "png"});
    cases.push_back({convert + "yuv420p10le -i ../seq_200x100_10bit.yuv -strict -1 -f "
                               "yuv4mpegpipe - | ",
                     "-", 0, "png"});
  }
  for (const int n : {1, 4, 5}) {
    const std::string tail = " 3 " + std::to_string(n), at = "n" + std::to_string(n) + "-";
    const Run colour = run(at + "f", kPlenoview + "../calib.xml '../f%03d.png'" + tail);
    const Run grey = run(at + "g", kPlenoview + "../calib.xml '../g%03d.png'" + tail);
    ASSERT_EQ(colour.views.size() + grey.views.size(), 6u * n * n) << colour.process.err;
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(c.input + c.args + " " + c.format + ", N = " + std::to_string(n));
      const Run& png = c.args.find("mono") == std::string::npos ? colour : grey;
      const Run got = run(at + std::to_string(i),
                          c.input + kPlenoview + "--first-frame " + std::to_string(c.first) +
                              " --output-format " + c.format + " ../calib.xml " + c.args + tail);
      const std::string& err = got.process.err;
      EXPECT_EQ(got.process.exitStatus, c.refusal.empty() ? 0 : 1) << err;
      if (!c.refusal.empty()) {
        // One line, and nothing but the closing summary once frames were in play.
        const size_t summary = err.find('\n') + 1;
        EXPECT_EQ(err.substr(0, summary), "plenoview: " + c.refusal + "\n");
        EXPECT_TRUE(summary == err.size() || (err.compare(summary, 9, "summary: ") == 0 &&
                                              err.find('\n', summary) == err.size() - 1))
            << err;
      } else if (c.first == 0) {
        EXPECT_EQ(fromImageNum(got.process.out), fromImageNum(png.process.out));
      }
      const int end = c.refusal.empty() ? 3 : std::stoi(c.refusal.substr(6));
      const int fps = c.args.find("--fps=25") == std::string::npos ? 30 : 25;
      EXPECT_TRUE(got.views == expectedViews(png.views, c.format, c.first, end, fps));

      // A real reader of Y4M takes the view files as they are.
      if (c.format == "y4m" && c.refusal.empty() && ffmpeg) {
        const Run decoded = run(at + std::to_string(i),
                                "ffmpeg -v error -i Result/Result_c0000.y4m"
                                " -f rawvideo -pix_fmt yuv420p -");
        EXPECT_EQ(decoded.process.exitStatus, 0) << decoded.process.err;
        EXPECT_TRUE(decoded.process.out ==
                    expectedViews(png.views, "yuv", 0, 3, 0).begin()->second);
      }
    }
  }
}

TEST_F(LensletVideo, ChunksAtOnceAndAKilledThenResumedRunWriteTheFilesOfOneLongRun) {
  writeVideos(dir, 12);
  for (const std::string format : {"yuv", "y4m"}) {
    SCOPED_TRACE(format);
    const std::string args = " ../calib.xml ../seq.y4m 12 5 --output-format " + format;
    const Run whole = run("long-" + format, kPlenoview + args);
    ASSERT_EQ(whole.views.size(), 25u) << whole.process.err;

    // Four chunks at once, all writing into the same view files.
    if (testing::runShell("command -v parallel").exitStatus == 0) {
      const Run chunks =
          run("chunks-" + format, shellQuote(PLENOVIEW_SOURCE_DIR "/scripts/run-parallel") +
                                      " -c 4 -j 4 -p " + shellQuote(PLENOVIEW_BINARY) + args);
      EXPECT_EQ(chunks.process.exitStatus, 0) << chunks.process.err;
      EXPECT_TRUE(chunks.views == whole.views);
    }

    // Killed while it waits for frame 6 of a stream that delivered frames 0
    // .. 5, once their views are recorded, then resumed from the file.
    const std::string killed = dir + "/killed-" + format;
    std::filesystem::create_directories(killed);
    ASSERT_EQ(::mkfifo((killed + "/stream.y4m").c_str(), 0600), 0);
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
        const Files files = testing::filesIn(killed + "/.plenoview");
        const std::string journal = files.empty() ? "" : files.begin()->second;
        return std::count(journal.begin(), journal.end(), '\n') == 6;
      })) << background.err();
      EXPECT_EQ(background.stop(), 128 + SIGKILL);
      ::close(fifo);
    }
    const Run resumed = run("killed-" + format, kPlenoview + "--resume" + args);
    EXPECT_EQ(resumed.process.exitStatus, 0) << resumed.process.err;
    EXPECT_NE(resumed.process.err.find("resume: skipping 6 frame(s) whose views all exist: 0-5"),
              std::string::npos)
        << resumed.process.err;
    EXPECT_TRUE(resumed.views == whole.views);
  }
}

}  // namespace
}  // namespace plenoview
