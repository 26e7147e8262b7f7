#include "io/image_headers.h"

#include "tests/io/image_bytes.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <sstream>
#include <string>

namespace plenoview {
namespace {

using testing::Bytes;
using testing::chunk;
using testing::encode;
using testing::kPngSignature;
using testing::pattern;
using testing::pngWithHeader;

FrameFileInfo inspect(const Bytes& bytes) {
  std::istringstream in(bytes);
  return inspectFrameFile(in);
}

TEST(InspectFrameFile, ReadsTheSizeOfSoundPngs) {
  const FrameFileInfo grey = inspect(encode(".png", pattern(7, 300, CV_8UC1)));
  EXPECT_EQ(grey.format, "PNG");
  EXPECT_EQ(grey.size, cv::Size(300, 7));
  EXPECT_EQ(grey.damage, "");
  const FrameFileInfo deep = inspect(encode(".png", pattern(3, 5, CV_16UC4)));
  EXPECT_EQ(deep.size, cv::Size(5, 3));
  EXPECT_EQ(deep.damage, "");
}

TEST(InspectFrameFile, FindsEveryTruncationOfAPng) {
  const Bytes png = encode(".png", pattern(9, 40, CV_8UC3));
  for (size_t length = 8; length < png.size(); ++length) {
    const FrameFileInfo info = inspect(png.substr(0, length));
    EXPECT_EQ(info.damage.rfind("is truncated", 0), 0u) << length << " bytes: " << info.damage;
  }
  // Shorter than the signature: not recognised, left to the decoder.
  EXPECT_EQ(inspect(png.substr(0, 7)).format, "");
}

TEST(InspectFrameFile, FindsDamagedPngs) {
  const Bytes png = encode(".png", pattern(9, 40, CV_8UC1));
  Bytes badData = png;
  badData[png.size() - 12 - 6] ^= 0x01;  // in the last IDAT, before its CRC and IEND
  Bytes badHeader = png;
  badHeader[17] ^= 0x01;  // the width
  const Bytes ihdr = png.substr(8, 25);
  const Bytes iend = png.substr(png.size() - 12);
  const struct {
    const char* what;
    Bytes bytes;
    const char* damage;
  } cases[] = {
      {"data byte flipped", badData, "is corrupt (CRC error in a IDAT chunk)"},
      {"header byte flipped", badHeader, "is corrupt (CRC error in a IHDR chunk)"},
      {"zero width", pngWithHeader(0, 7), "is corrupt (invalid IHDR chunk)"},
      {"colour with 4 bits", pngWithHeader(30, 7, 4, 2), "is corrupt (invalid IHDR chunk)"},
      {"unknown interlace", pngWithHeader(30, 7, 8, 0, 2), "is corrupt (invalid IHDR chunk)"},
      {"palette without PLTE", pngWithHeader(30, 7, 8, 3),
       "is corrupt (palette image without a PLTE chunk)"},
      {"no IDAT", kPngSignature + ihdr + iend, "is corrupt (no IDAT chunk)"},
      {"first chunk not IHDR", kPngSignature + iend,
       "is corrupt (it does not start with an IHDR chunk)"},
      {"nothing after IHDR", kPngSignature + ihdr, "is truncated (no IEND chunk)"},
  };
  for (const auto& c : cases) EXPECT_EQ(inspect(c.bytes).damage, c.damage) << c.what;
  // A palette image with its PLTE is sound.
  const FrameFileInfo palette =
      inspect(pngWithHeader(30, 7, 8, 3).insert(33, chunk("PLTE", Bytes(768, '\x10'))));
  EXPECT_EQ(palette.damage, "");
}

TEST(InspectFrameFile, WalksJpegsToTheirEnd) {
  const cv::Mat image = pattern(8, 16, CV_8UC3);
  const Bytes plain = encode(".jpg", image);
  const Bytes progressive =
      encode(".jpg", image, {cv::IMWRITE_JPEG_PROGRESSIVE, 1, cv::IMWRITE_JPEG_RST_INTERVAL, 1});
  for (const Bytes& jpeg : {plain, progressive, plain + "trailing bytes"}) {
    const FrameFileInfo info = inspect(jpeg);
    EXPECT_EQ(info.format, "JPEG");
    EXPECT_EQ(info.size, cv::Size(16, 8));
    EXPECT_EQ(info.damage, "");
  }
  for (const Bytes& jpeg : {plain, progressive}) {
    for (size_t length = 2; length < jpeg.size(); ++length) {
      EXPECT_EQ(inspect(jpeg.substr(0, length)).damage, "is truncated (no end-of-image marker)")
          << length << " of " << jpeg.size() << " bytes";
    }
  }
  EXPECT_EQ(inspect(Bytes("\xFF\xD8\xFF\xD9", 4)).damage, "is corrupt (no frame header)");
}

TEST(InspectFrameFile, ReadsTheSizeFromOtherHeaders) {
  // BMP: 14-byte file header, then the info header: size, width, height.
  const auto bmp = [](std::uint32_t infoSize, const Bytes& dimensions) {
    return Bytes("BM") + Bytes(12, '\0') + Bytes(reinterpret_cast<const char*>(&infoSize), 4) +
           dimensions + Bytes(16, '\0');
  };
  const Bytes le3m2("\x03\0\0\0\xFE\xFF\xFF\xFF", 8);  // 3, -2 (rows top-down)
  const Bytes core54("\x05\0\x04\0", 4);               // OS/2 header: 16-bit 5, 4
  // TIFF: header, first IFD at 8, two entries (tag, type, count, value).
  const Bytes tiffLittle(
      "II*\0\x08\0\0\0\x02\0"
      "\x00\x01\x03\0\x01\0\0\0\x03\0\0\0"
      "\x01\x01\x04\0\x01\0\0\0\x02\0\0\0",
      34);
  const Bytes tiffBig(
      "MM\0*\0\0\0\x08\0\x02"
      "\x01\x00\0\x04\0\0\0\x01\0\0\x02\x80"
      "\x01\x01\0\x03\0\0\0\x01\x01\xE0\0\0",
      34);
  const struct {
    const char* what;
    Bytes bytes;
    const char* format;
    cv::Size size;
  } cases[] = {
      {"BMP", bmp(40, le3m2), "BMP", {3, 2}},
      {"BMP core header", bmp(12, core54), "BMP", {5, 4}},
      {"PGM with a comment", "P5\n# made by hand\n 4\t2\n255\n", "PNM", {4, 2}},
      {"PPM", "P6 70000 1 255 ", "PNM", {70000, 1}},
      {"P and a digit, then no blank: not PNM to the decoder", "P33 1 255 ", "", {0, 0}},
      {"TIFF little-endian", tiffLittle, "TIFF", {3, 2}},
      {"TIFF big-endian", tiffBig, "TIFF", {640, 480}},
      {"TIFF without size tags", Bytes("II*\0\x08\0\0\0\0\0", 10), "", {0, 0}},
      {"GIF", "GIF89a\x10\0\x08\0", "", {0, 0}},
      {"empty", "", "", {0, 0}},
  };
  for (const auto& c : cases) {
    const FrameFileInfo info = inspect(c.bytes);
    EXPECT_EQ(info.format, c.format) << c.what;
    EXPECT_EQ(info.size, c.size) << c.what;
    EXPECT_EQ(info.damage, "") << c.what;
  }
}

TEST(IsWholePng, NeedsTheSignatureAtTheStartAndTheEndChunkAtTheEnd) {
  const std::string dir = testing::makeTestDir();
  const std::string png = encode(".png", cv::Mat(3, 4, CV_8UC1, cv::Scalar(9)));
  struct Case {
    const char* name;
    std::string bytes;
    bool whole;
  };
  const Case cases[] = {
      {"whole.png", png, true},
      {"cut-end.png", png.substr(0, png.size() - 1), false},
      {"cut-half.png", png.substr(0, png.size() / 2), false},
      {"no-start.png", png.substr(1), false},
      {"empty.png", "", false},
  };
  for (const Case& c : cases) {
    testing::writeTextFile(dir + "/" + c.name, c.bytes);
    EXPECT_EQ(isWholePng(dir + "/" + c.name), c.whole) << c.name;
  }
  std::filesystem::create_directory(dir + "/folder.png");
  EXPECT_FALSE(isWholePng(dir + "/folder.png"));
  EXPECT_FALSE(isWholePng(dir + "/missing.png"));
}

}  // namespace
}  // namespace plenoview
