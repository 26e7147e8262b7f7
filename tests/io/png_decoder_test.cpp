#include "io/png_decoder.h"

#include "io/image_file_frames.h"
#include "io/png_encoder.h"
#include "io/png_row_filters.h"
#include "tests/io/image_bytes.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <functional>
#include <string>
#include <vector>
#include <zlib.h>

namespace plenoview {
namespace {

using testing::Bytes;

uint32_t bigEndianAt(const Bytes& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<uchar>(bytes[at + i]);
  return value;
}

std::vector<uchar> asVector(const Bytes& bytes) {
  return std::vector<uchar>(bytes.begin(), bytes.end());
}

// Smooth with noise, so that the encoders that choose filters row by row
// choose different ones.
cv::Mat texture(int rows, int cols, int type) {
  cv::Mat image(rows, cols, type);
  cv::randu(image, 0, 40);
  for (int y = 0; y < rows; ++y) {
    uchar* row = image.ptr<uchar>(y);
    for (int i = 0; i < cols * image.channels(); ++i)
      row[i] = static_cast<uchar>(row[i] + 5 * y + 3 * i);
  }
  return image;
}

// The file's pixels must be the image's (PNG is lossless) and cv::imdecode's,
// decoded into memory of the right size already there.
void expectDecodedAsImdecode(const std::vector<uchar>& file, const cv::Mat& image) {
  cv::Mat out(image.size(), image.type());
  const uchar* memory = out.data;
  ASSERT_TRUE(decodePlainPng(file, out));
  EXPECT_EQ(out.data, memory);
  EXPECT_TRUE(testing::sameImage(out, image));
  EXPECT_TRUE(testing::sameImage(out, cv::imdecode(file, cv::IMREAD_UNCHANGED)));
}

TEST(DecodePlainPng, GivesThePixelsOfFilesFromOpenCVAndFromOurEncoder) {
  std::vector<cv::Size> sizes;
  for (int width = 1; width <= 17; ++width) sizes.emplace_back(width, 1 + width % 5);
  sizes.insert(sizes.end(), {{640, 9}, {3, 700}, {1001, 150}});
  for (const cv::Size& size : sizes) {
    for (const int type : {CV_8UC1, CV_8UC3}) {
      const cv::Mat image = texture(size.height, size.width, type);
      SCOPED_TRACE(::testing::Message() << size << " channels " << CV_MAT_CN(type));
      std::vector<uchar> file;
      ASSERT_TRUE(cv::imencode(".png", image, file));
      expectDecodedAsImdecode(file, image);
      for (int level = kFastestPngLevel; level <= kSmallestPngLevel; ++level) {
        ASSERT_TRUE(PngEncoder(level).encode(image, file));
        expectDecodedAsImdecode(file, image);
      }
    }
  }
}

// A plain file of `lines` (each its filter type, then the row as stored),
// deflated by zlib, its IDAT split in two to cross a chunk boundary.
Bytes plainPng(int width, int height, int colourType, const Bytes& lines) {
  Bytes header(13, '\0');
  testing::putBigEndian(header, 0, width);
  testing::putBigEndian(header, 4, height);
  header[8] = 8;
  header[9] = static_cast<char>(colourType);
  uLongf size = compressBound(lines.size());
  Bytes stream(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&stream[0]), &size,
            reinterpret_cast<const Bytef*>(lines.data()), lines.size(), 9);
  stream.resize(size);
  return testing::kPngSignature + testing::chunk("IHDR", header) +
         testing::chunk("IDAT", stream.substr(0, 3)) + testing::chunk("IDAT", stream.substr(3)) +
         testing::chunk("IEND", "");
}

// Every row of `image` filtered with `filter`, stored R, G, B.
Bytes filteredLines(const cv::Mat& image, PngFilter filter) {
  const int bytes = image.cols * image.channels();
  Bytes lines;
  std::vector<uchar> line(1 + bytes);
  for (int y = 0; y < image.rows; ++y) {
    line[0] = static_cast<uchar>(filter);
    filterRow(filter, image.ptr<uchar>(y), y > 0 ? image.ptr<uchar>(y - 1) : nullptr, bytes,
              image.channels(), &line[1]);
    if (image.channels() == 3) swapRedAndBlue(&line[1], image.cols);
    lines.append(line.begin(), line.end());
  }
  return lines;
}

TEST(DecodePlainPng, UndoesEachRowFilter) {
  for (const int type : {CV_8UC1, CV_8UC3}) {
    // Extremes and steps, so that Paeth picks each of a, b and c somewhere.
    const cv::Mat image = testing::pattern(6, 9, type);
    image.row(2).setTo(255);
    image.row(3).setTo(0);
    for (const PngFilter filter : {PngFilter::kNone, PngFilter::kSub, PngFilter::kUp,
                                   PngFilter::kAverage, PngFilter::kPaeth}) {
      SCOPED_TRACE(::testing::Message()
                   << "filter " << int(filter) << " channels " << CV_MAT_CN(type));
      const Bytes file =
          plainPng(image.cols, image.rows, type == CV_8UC3 ? 2 : 0, filteredLines(image, filter));
      expectDecodedAsImdecode(asVector(file), image);
    }
  }
}

TEST(DecodePlainPng, RefusesWhatIsNotPlainOrIsDamaged) {
  // 40 x 30 colour: rows of 121 bytes with their type, 3630 in all.
  const cv::Mat image = testing::pattern(30, 40, CV_8UC3);
  const size_t lineBytes = 121;
  const Bytes lines = filteredLines(image, PngFilter::kSub);
  const Bytes plain = plainPng(40, 30, 2, lines);
  // The chunks after the header: both IDATs and IEND.
  const size_t afterHeader = 8 + 25;
  const auto withChunkAfterHeader = [&](const Bytes& chunk) {
    return plain.substr(0, afterHeader) + chunk + plain.substr(afterHeader);
  };
  // A file of `rows` whose zlib stream is changed by `edit` (chunk CRCs right).
  const auto withStream = [&](const Bytes& rows, const std::function<void(Bytes&)>& edit) {
    uLongf size = compressBound(rows.size());
    Bytes stream(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&stream[0]), &size,
              reinterpret_cast<const Bytef*>(rows.data()), rows.size(), 6);
    stream.resize(size);
    edit(stream);
    return plain.substr(0, afterHeader) + testing::chunk("IDAT", stream) +
           testing::chunk("IEND", "");
  };
  // The header's window down to 2 KB (check bits kept right): zlib would
  // refuse distances beyond it, which ISA-L takes.
  const auto smallWindow = [](Bytes& s) {
    s[0] = 0x38;
    s[1] = static_cast<char>(31 - (0x38 * 256) % 31);
  };
  Bytes badCrc = plain;
  badCrc[afterHeader + 9] ^= 1;  // in the first IDAT's data
  Bytes badFilter = lines;
  badFilter[lineBytes] = 5;  // the second row's type
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {
      {"16 bits", testing::encode(".png", cv::Mat(4, 5, CV_16UC3, cv::Scalar(1, 2, 3)))},
      {"RGBA", testing::encode(".png", cv::Mat(4, 5, CV_8UC4, cv::Scalar(1, 2, 3, 4)))},
      {"palette", testing::pngWithHeader(30, 7, 8, 3)},
      {"grey and alpha", testing::pngWithHeader(30, 7, 8, 4)},
      {"interlaced", testing::pngWithHeader(30, 7, 8, 0, 1)},
      {"tRNS", withChunkAfterHeader(testing::chunk("tRNS", Bytes("\0\1\0\2\0\3", 6)))},
      {"gAMA", withChunkAfterHeader(testing::chunk("gAMA", Bytes("\0\0\xb1\x8f", 4)))},
      {"unknown chunk", withChunkAfterHeader(testing::chunk("prVt", "x"))},
      {"corrupted CRC", badCrc},
      {"filter type 5", plainPng(40, 30, 2, badFilter)},
      {"a row short", withStream(lines.substr(0, lines.size() - 1), [](Bytes&) {})},
      {"a row too many", withStream(lines + lines.substr(0, lineBytes), [](Bytes&) {})},
      {"stream cut", withStream(lines, [](Bytes& s) { s.resize(s.size() - 6); })},
      {"wrong Adler-32", withStream(lines, [](Bytes& s) { s.back() ^= 1; })},
      {"bytes after the stream", withStream(lines, [](Bytes& s) { s += "ab"; })},
      {"window smaller than the image data", withStream(lines, smallWindow)},
      {"bytes after IEND", plain + "x"},
      {"no IEND", plain.substr(0, plain.size() - 12)},
  };
  cv::Mat decoded;
  ASSERT_TRUE(decodePlainPng(asVector(plain), decoded));
  for (const auto& c : cases) {
    cv::Mat out;
    EXPECT_FALSE(decodePlainPng(asVector(c.file), out)) << c.what;
  }
}

// Frame 1 has a wrong Adler-32, found only once the pool's image (frame
// 0's memory) is half overwritten: read as cv::imdecode alone reads it,
// which refuses it. Frame 2 has a gAMA chunk, which OpenCV ignores.
TEST(DecodePlainPng, LeavesTheFilesItRefusesToImdecode) {
  const std::string dir = testing::makeTestDir();
  const cv::Mat image = texture(40, 50, CV_8UC3);
  const Bytes plain = testing::encode(".png", image);
  const size_t adlerEnd = plain.size() - 12 - 4;  // before the last IDAT's CRC and IEND
  Bytes badAdler = plain;
  badAdler[adlerEnd - 1] ^= 1;
  const size_t dataStart = adlerEnd - bigEndianAt(plain, 33);  // one IDAT
  testing::putBigEndian(badAdler, adlerEnd,
                        testing::crc(badAdler.substr(dataStart - 4, adlerEnd - dataStart + 4)));
  const Bytes gamma =
      plain.substr(0, 33) + testing::chunk("gAMA", Bytes("\0\0\xb1\x8f", 4)) + plain.substr(33);
  const Bytes files[] = {plain, badAdler, gamma};
  for (int k = 0; k < 3; ++k)
    testing::writeTextFile(dir + "/f" + std::to_string(k) + ".png", files[k]);

  ImageFileFrames frames(dir + "/f%d.png");
  EXPECT_TRUE(testing::sameImage(frames.read(0), image));
  EXPECT_EQ(testing::refusal([&] { frames.read(1); }),
            "frame 1: cannot read \"" + dir + "/f1.png\" (missing, empty or not an image)");
  cv::Mat decoded;
  EXPECT_FALSE(decodePlainPng(asVector(gamma), decoded));
  EXPECT_TRUE(testing::sameImage(frames.read(2), image));
}

}  // namespace
}  // namespace plenoview
