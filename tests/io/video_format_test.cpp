#include "io/video_format.h"

#include "base/plenoview_error.h"
#include "io/y4m_header.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace plenoview {
namespace {

using testing::refusal;

TEST(VideoSize, FromTheFileNameOrSizeText) {
  struct Case {
    const char* path;
    std::optional<cv::Size> size;
  };
  const Case cases[] = {
      {"seq/Boxer-IrishMan_3840x2160_300frames_8bit_yuv420.yuv", cv::Size(3840, 2160)},
      {"Fujita_2048x2048.yuv", cv::Size(2048, 2048)},
      {"x_6464x4852_30fps_8bit.yuv", cv::Size(6464, 4852)},
      {"a_3840x2160_b_3840x2160.yuv", cv::Size(3840, 2160)},  // named twice, alike
      {"3840x2160.yuv", std::nullopt},                        // no underscore before
      {"seq-3840x2160.yuv", std::nullopt},
      {"seq_3840x2160", std::nullopt},  // nothing after it
      {"seq_3840X2160_.yuv", std::nullopt},
      {"seq_x2160_.yuv", std::nullopt},
      {"seq_3840x_.yuv", std::nullopt},
      {"dir_64x64_/seq.yuv", std::nullopt},                 // the folder does not count
      {"seq_99999999999x2_.yuv", cv::Size(0x7FFFFFFF, 2)},  // held, for the limit check
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sizeFromFileName(c.path), c.size) << c.path;
  }
  EXPECT_THROW(sizeFromFileName("a_64x64_b_128x64.yuv"), PlenoviewError);

  EXPECT_EQ(parseSizeText("3840x2160", "--size"), cv::Size(3840, 2160));
  EXPECT_EQ(parseSizeText("0x0", "--size"), cv::Size(0, 0));
  for (const std::string bad : {"", "x", "3840", "3840x", "x2160", "3840*2160", " 3840x2160",
                                "3840x2160 ", "-4x4", "4x4x4", "+4x4"}) {
    EXPECT_EQ(refusal([&] { parseSizeText(bad, "--size"); }),
              "--size \"" + bad + "\" is not a frame size WIDTHxHEIGHT (e.g. 3840x2160)");
  }

  EXPECT_TRUE(tenBitByName("seq_1920x1080_10bit.yuv"));
  EXPECT_TRUE(tenBitByName("SEQ_10BIT.yuv"));
  EXPECT_FALSE(tenBitByName("10bit/seq_1920x1080_8bit.yuv"));
}

TEST(VideoFormat, FrameBytesAndTenBitReduction) {
  EXPECT_EQ((VideoFormat{{3840, 2160}, 8, false}.frameBytes()), 12441600);  // 3840 x 2160 x 3/2
  EXPECT_EQ((VideoFormat{{3840, 2160}, 10, false}.frameBytes()), 24883200);
  EXPECT_EQ((VideoFormat{{3, 5}, 8, true}.frameBytes()), 15);
  EXPECT_EQ((VideoFormat{{4, 2}, 10, true}.frameBytes()), 16);

  // Little-endian words: 0, 3, 4, 1023, 512, and 1024 and 65535, which no
  // sound 10-bit stream holds, saturating instead of wrapping to 0 and 127.
  const std::vector<unsigned char> words = {0,    0,    3,    0,    4,    0,    0xff,
                                            0x03, 0x00, 0x02, 0x00, 0x04, 0xff, 0xff};
  std::vector<unsigned char> out(7);
  reduceTenBitSamples(words.data(), out.data(), 7);
  EXPECT_EQ(out, (std::vector<unsigned char>{0, 0, 1, 255, 128, 255, 255}));
}

// The size limits are checked here for every video, before any allocation.
TEST(Y4mHeader, FieldsChromaFormatsAndSizeLimits) {
  struct Case {
    const char* line;
    const char* expected;  // the format read, or the start of the refusal after the name
  };
  const Case accepted[] = {
      {"YUV4MPEG2 W3840 H2160 F30:1 Ip A1:1 C420jpeg XYSCSS=420JPEG", "3840 x 2160, 8-bit 4:2:0"},
      {"YUV4MPEG2 W64 H32", "64 x 32, 8-bit 4:2:0"},
      {"YUV4MPEG2 H32 W64 C420paldv", "64 x 32, 8-bit 4:2:0"},
      {"YUV4MPEG2 W64 H32 C420mpeg2 It A0:0 F30000:1001", "64 x 32, 8-bit 4:2:0"},
      {"YUV4MPEG2 W64 H32 C420", "64 x 32, 8-bit 4:2:0"},
      {"YUV4MPEG2 W64 H32 C420p10 XYSCSS=420P10", "64 x 32, 10-bit 4:2:0"},
      {"YUV4MPEG2 W3 H5 Cmono", "3 x 5, 8-bit grey"},           // grey has no chroma to halve
      {"YUV4MPEG2 W65534 H4096", "65534 x 4096, 8-bit 4:2:0"},  // 2^28 - 8192 pixels
      {"YUV4MPEG2  W64 H32 X X Xa ", "64 x 32, 8-bit 4:2:0"},   // empty and repeated X fields
  };
  for (const Case& c : accepted) {
    EXPECT_EQ(parseY4mHeader(c.line, "\"v.y4m\"").format.describe(), c.expected) << c.line;
  }

  const Case refused[] = {
      {"YUV4MPEG2W64 H32", "no YUV4MPEG2 signature at the start"},
      {"YUV4MPEG2 W64", "the height H is missing"},
      {"YUV4MPEG2", "the width W is missing"},
      {"YUV4MPEG2 W64 H32 Cmono16", "the chroma format \"Cmono16\" is not supported"},
      {"YUV4MPEG2 W64 H32 C", "the chroma format \"C\" is not supported"},
      {"YUV4MPEG2 W6x4 H32", "the width \"W6x4\" is not a whole number"},
      {"YUV4MPEG2 W64 H", "the height \"H\" is not a whole number"},
      {"YUV4MPEG2 W-64 H32", "the width \"W-64\" is not a whole number"},
      {"YUV4MPEG2 W9999999999 H32", "the width \"W9999999999\" is not a whole number"},
      {"YUV4MPEG2 W64 H32 A:1", "the pixel aspect \"A:1\" is not of the form A<num>:<den>"},
      {"YUV4MPEG2 W64 H32 Ix", "the interlacing \"Ix\" is none of"},
      {"YUV4MPEG2 W64 H32 W64", "field W is given twice"},
      {"YUV4MPEG2 W64 H32 Z1", "unknown field \"Z1\""},
      {"YUV4MPEG2 W64 H32 \x01\x7f", "unknown field \"??\""},
      {"YUV4MPEG2 W64 H31", "the frame size 64 x 31 is odd"},
      {"YUV4MPEG2 W16384 H16386", "16384 x 16386 is beyond the limits"},  // 2^28 + 32768 pixels
      {"YUV4MPEG2 W999999999 H999999999 Cmono", "999999999 x 999999999 is beyond the limits"},
  };
  for (const Case& r : refused) {
    SCOPED_TRACE(r.line);
    const std::string got = refusal([&] { parseY4mHeader(r.line, "\"v.y4m\""); });
    EXPECT_EQ(got.rfind("\"v.y4m\": ", 0), 0u) << got;
    EXPECT_NE(got.find(r.expected), std::string::npos) << got;
  }

  for (const char* marker : {"FRAME", "FRAME Ixyz"}) EXPECT_TRUE(isY4mFrameMarker(marker));
  for (const char* other : {"FRAMES", "FRAM", " FRAME"}) EXPECT_FALSE(isY4mFrameMarker(other));
}

}  // namespace
}  // namespace plenoview
