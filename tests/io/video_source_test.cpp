#include "io/video_source.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

// 8 x 4 frames: 32 luma and 2 x 8 chroma samples, 48 bytes in 8 bits.
const cv::Size kSize(8, 4);

// The I420 planes of frame k, different for every k.
cv::Mat planesOf(int k, bool mono) {
  cv::Mat planes(mono ? kSize.height : kSize.height * 3 / 2, kSize.width, CV_8UC1);
  cv::RNG rng(static_cast<uint64_t>(k) + 17);
  rng.fill(planes, cv::RNG::UNIFORM, 0, 256);
  return planes;
}

// The pipeline's frame from those planes, by the rule.
cv::Mat expectedFrame(int k, bool mono) {
  if (mono) return planesOf(k, true);
  cv::Mat bgr;
  cv::cvtColor(planesOf(k, false), bgr, cv::COLOR_YUV2BGR_I420);
  return bgr;
}

// Frame k's bytes: 8-bit samples, or 10-bit words v << 2 plus two low bits
// that the reduction drops.
std::string frameBytes(int k, bool mono, int bitDepth) {
  const cv::Mat planes = planesOf(k, mono);
  std::string bytes;
  for (size_t i = 0; i < planes.total(); ++i) {
    const unsigned v = planes.data[i];
    if (bitDepth == 8) {
      bytes += static_cast<char>(v);
    } else {
      const unsigned word = v << 2 | (i % 4);
      bytes += static_cast<char>(word & 0xff);
      bytes += static_cast<char>(word >> 8);
    }
  }
  return bytes;
}

// A whole video of `frames` frames, raw or with a Y4M header and markers.
std::string videoBytes(int frames, bool y4m, bool mono = false, int bitDepth = 8) {
  std::string bytes;
  if (y4m) {
    bytes = std::string("YUV4MPEG2 W8 H4 F30:1 Ip A1:1 ") +
            (mono             ? "Cmono"
             : bitDepth == 10 ? "C420p10 XYSCSS=420P10"
                              : "C420jpeg") +
            "\n";
  }
  for (int k = 0; k < frames; ++k) {
    // Markers may carry parameters; the second frame's does.
    if (y4m) bytes += k == 1 ? "FRAME Ip XA=1\n" : "FRAME\n";
    bytes += frameBytes(k, mono, bitDepth);
  }
  return bytes;
}

// Runs `body` with standard input reading `bytes` from a pipe (written by a
// thread, so that any amount fits) or from a regular file.
void withStandardInput(const std::string& bytes, bool pipe, const std::function<void()>& body) {
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early must not end the tests
  const int saved = ::dup(STDIN_FILENO);
  std::thread writer;
  if (pipe) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    writer = std::thread([bytes, fd = ends[1]] {
      for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      ::close(fd);
    });
  } else {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    ::lseek(fileno(file), 0, SEEK_SET);
    ::dup2(fileno(file), STDIN_FILENO);
    std::fclose(file);
  }
  try {
    body();
  } catch (...) {
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    if (writer.joinable()) writer.join();
    throw;
  }
  // Let a writer blocked on a full pipe go.
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  if (writer.joinable()) writer.join();
}

TEST(VideoPath, VideosByEndingOrDash) {
  EXPECT_TRUE(isVideoPath("-"));
  EXPECT_TRUE(isVideoPath("seq_8x4_.yuv"));
  EXPECT_TRUE(isVideoPath("SEQ.Y4M"));
  EXPECT_TRUE(isVideoPath("100%%_8x4_.yuv"));
  EXPECT_EQ(videoFilePath("100%%_8x4_.yuv"), "100%_8x4_.yuv");
  EXPECT_FALSE(isVideoPath("f%03d.yuv"));  // a pattern of files, whatever they hold
  EXPECT_FALSE(isVideoPath("seq.yuv.png"));
  EXPECT_FALSE(isVideoPath("--"));
}

TEST(VideoFrameSource, EveryKindGivesTheFramesOfItsPlanes) {
  struct Case {
    const char* name;
    bool y4m;
    bool mono;
    int bitDepth;
    RawVideoOptions options;
    enum { kFile, kFifo, kStdinPipe, kStdinFile } from;
  };
  const Case cases[] = {
      {"seq_8x4_10bit.yuv", false, false, 10, {}, Case::kFile},
      {"seq.yuv", false, false, 10, {"8x4", "yuv420p10le"}, Case::kFile},
      {"seq_16x16_10bit.yuv", false, false, 8, {"8x4", "yuv420p"}, Case::kFile},
      {"seq.y4m", true, false, 10, {}, Case::kFile},
      {"seq.y4m", true, true, 8, {"8x4", ""}, Case::kFile},
      {"seq_8x4_.yuv", false, false, 8, {}, Case::kFifo},
      {"seq.y4m", true, true, 8, {}, Case::kFifo},
      {"-", false, false, 10, {"8x4", "yuv420p10le"}, Case::kStdinPipe},
      {"-", true, false, 10, {}, Case::kStdinPipe},
      {"-", false, false, 8, {"8x4", ""}, Case::kStdinFile},
      {"-", true, true, 8, {}, Case::kStdinFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.y4m ? " y4m" : " raw") + (c.mono ? " mono " : " ") +
                 std::to_string(c.bitDepth) + "-bit, from " + std::to_string(c.from));
    const std::string dir = testing::makeTestDir();
    const std::string bytes = videoBytes(3, c.y4m, c.mono, c.bitDepth);
    const bool stream = c.from == Case::kFifo || c.from == Case::kStdinPipe;
    // A stream is read in order; a frame and the one before it can be asked
    // for again. A file is read in any order.
    const std::vector<int> order =
        stream ? std::vector<int>{1, 0, 1, 2, 1} : std::vector<int>{2, 0, 1, 1};
    const auto readAll = [&](const std::string& path) {
      VideoFrameSource source(path, c.options);
      EXPECT_EQ(source.format().size, kSize);
      EXPECT_EQ(source.format().bitDepth, c.bitDepth);
      EXPECT_EQ(source.format().mono, c.mono);
      EXPECT_EQ(source.isY4m(), c.y4m);
      EXPECT_EQ(source.frameCount(), stream ? -1 : 3);
      for (const int k : order) {
        EXPECT_TRUE(testing::sameImage(source.frame(k), expectedFrame(k, c.mono))) << "frame " << k;
      }
    };
    if (c.from == Case::kFile) {
      testing::writeTextFile(dir + "/" + c.name, bytes);
      readAll(dir + "/" + c.name);
    } else if (c.from == Case::kFifo) {
      const std::string path = dir + "/" + c.name;
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      std::thread writer([&] { testing::writeTextFile(path, bytes); });
      readAll(path);
      writer.join();
    } else {
      withStandardInput(bytes, c.from == Case::kStdinPipe, [&] { readAll("-"); });
    }
  }
}

// The message of the PlenoviewError that `body` throws, or "" when none.
std::string refusal(const std::function<void()>& body) {
  try {
    body();
  } catch (const PlenoviewError& e) {
    return e.what();
  }
  return "";
}

// The matrix of bad inputs (tests/driver) runs the common refusals through
// the binary; these are the ones that need exact bytes or a message in full.
TEST(VideoFrameSource, BrokenVideosAreRefusedAtOpeningWithOneLine) {
  const std::string dir = testing::makeTestDir();
  const std::string oneFrame = frameBytes(0, false, 8);
  const std::string header = "YUV4MPEG2 W8 H4\n";
  struct Case {
    const char* name;
    std::string bytes;
    RawVideoOptions options;
    std::string message;
  };
  const Case cases[] = {
      {"seq_8x4_10bit.yuv",
       oneFrame,
       {},
       "\"DIR/seq_8x4_10bit.yuv\" holds 48 bytes, which is not a whole number of frames of 96 "
       "bytes (8 x 4, 10-bit 4:2:0): 0 frames and 48 bytes over"},
      {"seq.yuv",
       oneFrame,
       {"8x4y", ""},
       "--size \"8x4y\" is not a frame size WIDTHxHEIGHT (e.g. 3840x2160)"},
      {"seq_70000x4_.yuv", "", {}, "\"DIR/seq_70000x4_.yuv\": the frame size 70000 x 4 is beyond"},
      {"cut.y4m",
       "YUV4MPEG2 W8 H4",
       {},
       "\"DIR/cut.y4m\": Y4M header: the file ends before the header line does"},
      {"empty.y4m", "", {}, "\"DIR/empty.y4m\": Y4M header: the file ends before the header"},
      {"nomarker.y4m",
       header + oneFrame,
       {},
       "\"DIR/nomarker.y4m\": frame 0 does not start with a FRAME marker"},
      {"longmarker.y4m",
       header + "FRAME " + std::string(5000, 'p') + "\n" + oneFrame,
       {},
       "\"DIR/longmarker.y4m\": frame 0 does not start with a FRAME marker"},
      {"cutmarker.y4m",
       header + "FRAME\n" + oneFrame + "FRA",
       {},
       "\"DIR/cutmarker.y4m\" ends inside the marker of frame 1; a Y4M file must hold whole "
       "frames"},
      {"cutframe.y4m",
       header + "FRAME\n" + oneFrame + "FRAME\n" + oneFrame.substr(0, 10),
       {},
       "\"DIR/cutframe.y4m\" ends inside frame 1, after 10 of its 48 bytes; a Y4M file must hold "
       "whole frames"},
      {"size.y4m",
       header,
       {"16x4", ""},
       "--size 16x4 contradicts the Y4M header of \"DIR/size.y4m\" (8 x 4, 8-bit 4:2:0)"},
      {"depth.y4m",
       header,
       {"", "yuv420p10le"},
       "--pixel-format yuv420p10le contradicts the Y4M header of \"DIR/depth.y4m\" (8 x 4, 8-bit "
       "4:2:0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + c.name;
    testing::writeTextFile(path, c.bytes);
    std::string expected = c.message;
    if (expected.find("DIR") != std::string::npos) expected.replace(expected.find("DIR"), 3, dir);
    const std::string got = refusal([&] { VideoFrameSource source(path, c.options); });
    EXPECT_EQ(got.substr(0, expected.size()), expected);
    EXPECT_EQ(got.find('\n'), std::string::npos);
  }
  fs::create_directory(dir + "/folder.yuv");
  EXPECT_EQ(refusal([&] {
              VideoFrameSource source(dir + "/folder.yuv", {"8x4", ""});
            }),
            "\"" + dir + "/folder.yuv\" is a folder, not a video");
  EXPECT_EQ(refusal([&] { VideoFrameSource source(dir + "/missing_8x4_.yuv", {}); }),
            "cannot open \"" + dir + "/missing_8x4_.yuv\": No such file or directory");
}

TEST(VideoFrameSource, RangesPastTheEndAndCutStreamsNameTheFrame) {
  const std::string dir = testing::makeTestDir();
  for (const bool y4m : {false, true}) {
    const std::string path = dir + (y4m ? "/seq.y4m" : "/seq_8x4_.yuv");
    testing::writeTextFile(path, videoBytes(3, y4m));
    VideoFrameSource source(path, {});
    EXPECT_NO_THROW(source.checkRange(0, 3));
    EXPECT_NO_THROW(source.checkRange(5, 5));  // no frame in the range
    EXPECT_EQ(refusal([&] { source.checkRange(1, 5); }),
              "frames 1 .. 4 go past the end of \"" + path + "\", which holds 3 frames (0 .. 2)");
    EXPECT_EQ(refusal([&] { source.frame(3); }),
              "frame 3: \"" + path + "\" holds 3 frames (0 .. 2)");
  }

  // On a stream, every frame before the cut is delivered whole first.
  const std::string whole = videoBytes(2, false);
  const std::string cut = whole + frameBytes(2, false, 8).substr(0, 10);
  const std::string y4mCut =
      videoBytes(2, true) + "FRAME\n" + frameBytes(2, false, 8).substr(0, 10);
  struct Case {
    std::string bytes;
    RawVideoOptions options;
    std::string message;
  };
  const Case cases[] = {
      {whole,
       {"8x4", ""},
       "frame 2: standard input ends before this frame, after 2 frames (0 .. 1)"},
      {cut,
       {"8x4", ""},
       "frame 2: standard input ends inside this frame, after 10 of its 48 bytes"},
      {y4mCut, {}, "frame 2: standard input ends inside this frame, after 10 of its 48 bytes"},
      {videoBytes(2, true) + "FRA", {}, "frame 2: standard input ends inside the frame marker"},
      {videoBytes(2, true) + "FRAMEX\n",
       {},
       "frame 2: standard input does not start with a FRAME marker"},
      {videoBytes(2, true), {}, "frame 2: standard input ends before this frame, after 2 frames"},
      {"", {"8x4", ""}, "frame 0: standard input ends before this frame, after no frame"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    withStandardInput(c.bytes, true, [&] {
      VideoFrameSource source("-", c.options);
      if (c.message.rfind("frame 2", 0) == 0) {
        EXPECT_TRUE(testing::sameImage(source.frame(1), expectedFrame(1, false)));
      }
      EXPECT_EQ(refusal([&] { source.frame(2); }).substr(0, c.message.size()), c.message);
    });
  }

  withStandardInput(videoBytes(3, false), true, [&] {
    VideoFrameSource source("-", {"8x4", ""});
    source.frame(2);
    EXPECT_NO_THROW(source.frame(1));
    EXPECT_EQ(refusal([&] { source.frame(0); }),
              "frame 0: standard input is read in order and is already past this frame");
  });
}

TEST(VideoFrameSource, EndsBeforeTheFrameAfterTheLastWholeOne) {
  // A file knows its count; frames 0 .. 2 are there, 3 is not.
  const std::string dir = testing::makeTestDir();
  for (const bool y4m : {false, true}) {
    const std::string path = dir + (y4m ? "/seq.y4m" : "/seq_8x4_.yuv");
    testing::writeTextFile(path, videoBytes(3, y4m));
    VideoFrameSource source(path, {});
    EXPECT_FALSE(source.endsBefore(2)) << path;
    EXPECT_TRUE(source.endsBefore(3)) << path;
  }

  // A stream ends where no byte follows the frames read; a partial frame or
  // marker is not an end, which the read then reports.
  struct Case {
    std::string bytes;
    RawVideoOptions options;
    int whole;  // frames to read before asking
    bool ends;
  };
  const Case cases[] = {
      {videoBytes(2, false), {"8x4", ""}, 2, true},
      {videoBytes(2, true), {}, 2, true},
      {"", {"8x4", ""}, 0, true},
      {videoBytes(2, false), {"8x4", ""}, 1, false},
      {videoBytes(2, false) + "x", {"8x4", ""}, 2, false},
      {videoBytes(2, true) + "FRA", {}, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bytes.size()) + " bytes, " + std::to_string(c.whole) + " read");
    withStandardInput(c.bytes, true, [&] {
      VideoFrameSource source("-", c.options);
      for (int k = 0; k < c.whole; ++k) source.frame(k);
      EXPECT_EQ(source.endsBefore(c.whole), c.ends);
      EXPECT_FALSE(source.endsBefore(c.whole + 1));  // not read that far: not known
    });
  }
}

}  // namespace
}  // namespace plenoview
