#include "io/frame_checks.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview {
namespace {

using Bytes = std::string;

FrameFileInfo inspect(const Bytes& bytes) {
  std::istringstream in(bytes);
  return inspectFrameFile(in);
}

Bytes encode(const std::string& extension, const cv::Mat& image,
             const std::vector<int>& parameters = {}) {
  std::vector<uchar> buffer;
  cv::imencode(extension, image, buffer, parameters);
  return Bytes(buffer.begin(), buffer.end());
}

cv::Mat pattern(int rows, int cols, int type) {
  cv::Mat image(rows, cols, type);
  cv::randu(image, 0, 255);
  return image;
}

std::uint32_t crc(const Bytes& data) { return testing::pngCrc32(data.data(), data.size()); }

void putBigEndian(Bytes& bytes, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

Bytes chunk(const Bytes& type, const Bytes& data) {
  Bytes out(4, '\0');
  putBigEndian(out, 0, static_cast<std::uint32_t>(data.size()));
  out += type + data + Bytes(4, '\0');
  putBigEndian(out, out.size() - 4, crc(type + data));
  return out;
}

// A PNG made by the encoder, its IHDR fields then rewritten (CRC kept
// correct). The IHDR data starts at byte 16: width, height, depth, colour
// type, compression, filter, interlace.
Bytes pngWithHeader(std::uint32_t width, std::uint32_t height, int depth = 8, int colourType = 0,
                    int interlace = 0) {
  Bytes png = encode(".png", pattern(7, 30, CV_8UC1));
  putBigEndian(png, 16, width);
  putBigEndian(png, 20, height);
  png[24] = static_cast<char>(depth);
  png[25] = static_cast<char>(colourType);
  png[28] = static_cast<char>(interlace);
  putBigEndian(png, 29, crc(png.substr(12, 17)));
  return png;
}

const Bytes kPngSignature("\x89PNG\r\n\x1a\n", 8);

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

// "" when accepted, the message otherwise.
std::string fileRefusal(const std::string& path) {
  try {
    checkFrameFile(path, 4);
  } catch (const PlenoviewError& e) {
    return e.what();
  }
  return "";
}

TEST(CheckFrameFile, RefusesBeforeDecodingWhatCannotBeAFrame) {
  const std::string dir = testing::makeTestDir();
  const auto file = [&](const std::string& name, const Bytes& bytes) {
    testing::writeTextFile(dir + "/" + name, bytes);
    return dir + "/" + name;
  };
  std::filesystem::create_directory(dir + "/folder.png");
  const Bytes sound = encode(".png", pattern(7, 30, CV_8UC1));
  const struct {
    std::string path;
    std::string message;  // "" when accepted
  } cases[] = {
      {file("sound.png", sound), ""},
      // 65535 x 4096 = 268431360 pixels, just under 2^28.
      {file("largest.png", pngWithHeader(65535, 4096)), ""},
      {file("wide.png", pngWithHeader(65536, 1)),
       "frame 4: \"" + dir +
           "/wide.png\" is 65536 x 1 pixels; frames may have at most 65535 per "
           "side and 268435456 (2^28) in all"},
      // 16385 x 16384 = 2^28 + 16384.
      {file("many.png", pngWithHeader(16385, 16384)), "many.png\" is 16385 x 16384 pixels"},
      {file("huge.pgm", "P5 100000 100000 255\n"), "huge.pgm\" is 100000 x 100000 pixels"},
      {file("zero.pgm", "P5 0 2 255\n"), "zero.pgm\" has a size of 0 x 2 in its PNM header"},
      {file("cut.png", sound.substr(0, 50)), "frame 4: \"" + dir + "/cut.png\" is truncated"},
      {file("text.png", "not an image"), ""},  // left to the decoder
      {dir + "/missing.png", ""},              // left to the decoder
      {dir + "/folder.png", "folder.png\" is not a regular file"},
      {"/dev/zero", "frame 4: \"/dev/zero\" is not a regular file"},
      {file("scan.dcm", Bytes(128, '\0') + "DICM" + Bytes(16, '\x02')),
       "scan.dcm\" is a DICOM file, which plenoview does not read"},
      // A PNG that happens to hold "DICM" at 128 is still a PNG.
      {file("dicm.png", sound.substr(0, 128) + "DICM" + sound.substr(132)),
       "dicm.png\" is corrupt"},
  };
  for (const auto& c : cases) {
    const std::string message = fileRefusal(c.path);
    if (c.message.empty()) {
      EXPECT_EQ(message, "") << c.path;
    } else {
      EXPECT_NE(message.find(c.message), std::string::npos) << c.path << ": " << message;
    }
  }
}

TEST(CheckFrameImage, RefusesAFrameOfAnotherSizeThanTheFirst) {
  const cv::Mat frame(99, 200, CV_8UC1);
  EXPECT_NO_THROW(checkFrameImage(frame, "f.png", 0, cv::Size()));
  EXPECT_NO_THROW(checkFrameImage(frame, "f.png", 3, cv::Size(200, 99)));
  try {
    checkFrameImage(frame, "f003.png", 3, cv::Size(200, 100));
    ADD_FAILURE() << "accepted";
  } catch (const PlenoviewError& e) {
    EXPECT_STREQ(e.what(),
                 "frame 3: \"f003.png\" is 200 x 99 pixels, but the first frame is 200 x 100");
  }
}

}  // namespace
}  // namespace plenoview
