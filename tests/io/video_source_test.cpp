#include "io/video_source.h"

#include "tests/io/video_bytes.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace plenoview {
namespace {

using testing::refusal;
using testing::videoPlanes;

// 8 x 4 frames: 32 luma and 2 x 8 chroma samples, 48 bytes in 8 bits.
const cv::Size kSize(8, 4);

std::string frameBytes(int k, bool mono = false, int bitDepth = 8) {
  const cv::Mat planes = videoPlanes(kSize, k, mono);
  return bitDepth == 8 ? testing::bytesOf(planes) : testing::tenBitBytes(planes);
}

cv::Mat picture(int k, bool mono = false) {
  return testing::videoPicture(videoPlanes(kSize, k, mono), mono);
}

// `frames` frames, raw or with a Y4M header and markers; the second marker
// carries parameters, which the reader skips.
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
    if (y4m) bytes += k == 1 ? "FRAME Ip XA=1\n" : "FRAME\n";
    bytes += frameBytes(k, mono, bitDepth);
  }
  return bytes;
}

// Puts `bytes` at `path`, as a regular file or as a FIFO fed by a thread (a
// stream, read in order like a pipe on standard input), and runs `body`.
void withVideo(const std::string& path, const std::string& bytes, bool fifo,
               const std::function<void()>& body) {
  if (!fifo) {
    testing::writeTextFile(path, bytes);
    return body();
  }
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early must not end the tests
  std::thread writer([&] { testing::writeTextFile(path, bytes); });
  struct Join {
    std::thread& thread;
    ~Join() { thread.join(); }
  } join{writer};
  body();
}

TEST(VideoPath, VideosByEndingOrDash) {
  for (const char* video : {"-", "seq_8x4_.yuv", "SEQ.Y4M", "100%%_8x4_.yuv"}) {
    EXPECT_TRUE(isVideoPath(video)) << video;
  }
  // f%03d.yuv is a pattern of files, whatever they hold.
  for (const char* other : {"f%03d.yuv", "seq.yuv.png", "--"}) EXPECT_FALSE(isVideoPath(other));
  EXPECT_EQ(videoFilePath("100%%_8x4_.yuv"), "100%_8x4_.yuv");
}

// A file is read in any order; a stream in order, where a frame and the one
// before it can be asked for again. Both end before frame 3 of 3.
TEST(VideoFrameSource, EveryKindGivesThePicturesOfItsPlanes) {
  struct Case {
    const char* name;
    bool mono;
    int bitDepth;
    RawVideoOptions options;
    bool fifo;
  };
  const Case cases[] = {
      {"seq_8x4_10bit.yuv", false, 10, {}, false},  // size and depth from the name
      {"seq.yuv", false, 10, {"8x4", "yuv420p10le"}, false},
      {"seq_16x16_10bit.yuv", false, 8, {"8x4", "yuv420p"}, false},  // options win
      {"seq.y4m", false, 10, {}, false},
      {"seq.y4m", true, 8, {"8x4", ""}, false},  // --size agreeing with the header
      {"seq_8x4_.yuv", false, 8, {}, true},
      {"seq.y4m", true, 8, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.mono ? " mono " : " ") + std::to_string(c.bitDepth) +
                 "-bit" + (c.fifo ? " fifo" : ""));
    const std::string path = testing::makeTestDir() + "/" + c.name;
    const bool y4m = path.back() == 'm';
    withVideo(path, videoBytes(3, y4m, c.mono, c.bitDepth), c.fifo, [&] {
      VideoFrameSource source(path, c.options);
      EXPECT_EQ(source.frameCount(), c.fifo ? -1 : 3);
      for (const int k : c.fifo ? std::vector<int>{1, 0, 1, 2, 1} : std::vector<int>{2, 0, 1, 1}) {
        EXPECT_TRUE(testing::sameImage(source.frame(k), picture(k, c.mono))) << "frame " << k;
      }
      EXPECT_FALSE(source.endsBefore(2));
      EXPECT_TRUE(source.endsBefore(3));
      if (c.fifo) {
        EXPECT_EQ(refusal([&] { source.frame(0); }),
                  "frame 0: \"" + path + "\" is read in order and is already past this frame");
      }
    });
  }
}

// Refusals that need exact bytes, at opening or at a frame once the frames
// before it were delivered whole; the bad-input matrix and the end-to-end
// video table run the common ones through the binary. A stream that stops between two frames ends
// before the next one, and one that stops inside a frame or its marker does not: the read then says
// why.
TEST(VideoFrameSource, BrokenVideosAreRefusedWithOneLine) {
  const std::string frame0 = frameBytes(0), header = "YUV4MPEG2 W8 H4\n";
  const std::string twoY4m = videoBytes(2, true), twoRaw = videoBytes(2, false);
  const std::string cut = frameBytes(2).substr(0, 10);
  struct Case {
    std::string name, bytes;
    bool fifo;
    int frame;                                // -1: refused at opening
    std::string message;                      // its start; PATH stands for the video's path
    std::string size = "", pixelFormat = "";  // the options
  };
  const Case cases[] = {
      {"seq_8x4_10bit.yuv", frame0, false, -1,
       "\"PATH\" holds 48 bytes, which is not a whole number of frames of 96 bytes"},
      {"cut.y4m", "YUV4MPEG2 W8 H4", false, -1,
       "\"PATH\": Y4M header: the file ends before the header line does"},
      {"seq.y4m", header + "FRAME\n" + frame0 + "FRA", false, -1,
       "\"PATH\" ends inside the marker of frame 1"},
      {"seq.y4m", header + "FRAME\n" + frame0 + "FRAME\n" + frame0.substr(0, 10), false, -1,
       "\"PATH\" ends inside frame 1, after 10 of its 48 bytes"},
      {"seq.y4m", header, false, -1,
       "--size 16x4 contradicts the Y4M header of \"PATH\" (8 x 4, 8-bit 4:2:0)", "16x4"},
      {"seq.y4m", header, false, -1,
       "--pixel-format yuv420p10le contradicts the Y4M header of \"PATH\"", "", "yuv420p10le"},
      {"seq_8x4_.yuv", "", true, 0, "frame 0: \"PATH\" ends before this frame, after no frame"},
      {"seq_8x4_.yuv", twoRaw, true, 2,
       "frame 2: \"PATH\" ends before this frame, after 2 frames (0 .. 1)"},
      {"seq.y4m", twoY4m + "FRAME\n" + cut, true, 2,
       "frame 2: \"PATH\" ends inside this frame, after 10 of its 48 bytes"},
      {"seq.y4m", twoY4m + "FRA", true, 2, "frame 2: \"PATH\" ends inside the frame marker"},
      {"seq.y4m", twoY4m + "FRAMEX\n", true, 2,
       "frame 2: \"PATH\" does not start with a FRAME marker"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string path = testing::makeTestDir() + "/" + c.name;
    std::string expected = c.message;
    expected.replace(expected.find("PATH"), 4, path);
    const RawVideoOptions options{c.size, c.pixelFormat};
    std::string got;
    withVideo(path, c.bytes, c.fifo, [&] {
      if (c.frame < 0) {
        got = refusal([&] { VideoFrameSource source(path, options); });
        return;
      }
      VideoFrameSource source(path, options);
      for (int k = 0; k < c.frame; ++k)
        EXPECT_TRUE(testing::sameImage(source.frame(k), picture(k)));
      if (c.fifo) {
        EXPECT_EQ(source.endsBefore(c.frame), c.message.find("ends before") != std::string::npos);
        EXPECT_FALSE(source.endsBefore(c.frame + 1));  // not read that far: not known
      }
      got = refusal([&] { source.frame(c.frame); });
    });
    EXPECT_EQ(got.substr(0, expected.size()), expected);
    EXPECT_EQ(got.find('\n'), std::string::npos);
  }

  // Paths that hold no video.
  const std::string dir = testing::makeTestDir();
  std::filesystem::create_directory(dir + "/v.yuv");
  const RawVideoOptions size{"8x4", ""};
  EXPECT_EQ(refusal([&] { VideoFrameSource source(dir + "/v.yuv", size); }),
            "\"" + dir + "/v.yuv\" is a folder, not a video");
  EXPECT_EQ(refusal([&] { VideoFrameSource source(dir + "/missing.yuv", size); }),
            "cannot open \"" + dir + "/missing.yuv\": No such file or directory");
}

}  // namespace
}  // namespace plenoview
