#include "io/png_encoder.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace plenoview {
namespace {

using testing::sameImage;

uint32_t bigEndian(const uchar* at) {
  return static_cast<uint32_t>(at[0]) << 24 | at[1] << 16 | at[2] << 8 | at[3];
}

struct Chunk {
  std::string type;
  std::vector<uchar> data;
};

// The chunks of a PNG file, each CRC checked; a fault is reported and ends
// the walk.
std::vector<Chunk> chunksOf(const std::vector<uchar>& bytes) {
  static const uchar kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<Chunk> chunks;
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) {
    ADD_FAILURE() << "no PNG signature";
    return chunks;
  }
  for (size_t at = 8; at < bytes.size();) {
    if (bytes.size() - at < 12) {
      ADD_FAILURE() << "a cut chunk at " << at;
      break;
    }
    const uint32_t size = bigEndian(&bytes[at]);
    if (bytes.size() - at - 12 < size) {
      ADD_FAILURE() << "a chunk of " << size << " bytes runs past the end";
      break;
    }
    const uchar* typeAndData = &bytes[at + 4];
    if (bigEndian(typeAndData + 4 + size) != testing::pngCrc32(typeAndData, 4 + size)) {
      ADD_FAILURE() << "wrong CRC in chunk " << chunks.size();
    }
    chunks.push_back({std::string(typeAndData, typeAndData + 4),
                      std::vector<uchar>(typeAndData + 4, typeAndData + 4 + size)});
    at += 12 + size;
  }
  return chunks;
}

// Checks the layout of a file of `image` at `level`: IHDR (the size, 8 bits,
// grey or RGB, no interlace), IDAT chunks of at most kPngDataChunkBytes, IEND,
// nothing else; their data one zlib stream (its Adler-32 checked by zlib) of
// one filter type and the row's bytes per row. Returns the IDAT count.
int checkLayout(const std::vector<uchar>& bytes, const cv::Mat& image, int level) {
  const std::vector<Chunk> chunks = chunksOf(bytes);
  if (chunks.size() < 3) {
    ADD_FAILURE() << chunks.size() << " chunks";
    return 0;
  }
  const std::vector<uchar>& header = chunks.front().data;
  EXPECT_EQ(chunks.front().type, "IHDR");
  EXPECT_EQ(header.size(), 13u);
  if (header.size() == 13) {
    EXPECT_EQ(bigEndian(&header[0]), static_cast<uint32_t>(image.cols));
    EXPECT_EQ(bigEndian(&header[4]), static_cast<uint32_t>(image.rows));
    const std::vector<uchar> rest(header.begin() + 8, header.end());
    EXPECT_EQ(rest,
              (std::vector<uchar>{8, static_cast<uchar>(image.channels() == 3 ? 2 : 0), 0, 0, 0}));
  }
  EXPECT_EQ(chunks.back().type, "IEND");
  EXPECT_TRUE(chunks.back().data.empty());
  std::vector<uchar> stream;
  for (size_t i = 1; i + 1 < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].type, "IDAT") << "chunk " << i;
    EXPECT_LE(chunks[i].data.size(), kPngDataChunkBytes);
    stream.insert(stream.end(), chunks[i].data.begin(), chunks[i].data.end());
  }
  const size_t lineBytes = static_cast<size_t>(image.cols) * image.channels() + 1;
  std::vector<uchar> lines(image.rows * lineBytes + 1);  // one more: the stream must end there
  uLongf size = lines.size();
  EXPECT_EQ(uncompress(lines.data(), &size, stream.data(), stream.size()), Z_OK);
  EXPECT_EQ(size, image.rows * lineBytes);
  for (int y = 0; y < image.rows && size == image.rows * lineBytes; ++y) {
    // Level 1 promises Paeth on every row but the first, which has Sub.
    const int type = lines[y * lineBytes];
    EXPECT_LE(type, 4) << "row " << y;
    if (level == kFastestPngLevel) {
      EXPECT_EQ(type, y == 0 ? 1 : 4) << "row " << y;
    }
  }
  return static_cast<int>(chunks.size()) - 2;
}

// Noise over a gradient: runs, repeats and jumps across the whole byte range.
cv::Mat testImage(int width, int height, int channels, uint64_t seed) {
  cv::Mat image(height, width, CV_8UC(channels));
  cv::RNG rng(seed);
  rng.fill(image, cv::RNG::UNIFORM, 0, 256);
  for (int y = 0; y < height; ++y) {
    uchar* row = image.ptr(y);
    for (int i = 0; i < width * channels; ++i) {
      if ((i / channels + y) % 3 == 0) row[i] = static_cast<uchar>(7 * i + 11 * y);
    }
  }
  return image;
}

// What cv::imwrite would have written, decoded.
cv::Mat throughOpenCv(const cv::Mat& image) {
  std::vector<uchar> bytes;
  EXPECT_TRUE(cv::imencode(".png", image, bytes));
  return cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
}

TEST(PngEncoder, EveryWidthChannelCountAndLevelDecodesToTheImage) {
  std::vector<uchar> bytes;
  for (int level = kFastestPngLevel; level <= kSmallestPngLevel; ++level) {
    PngEncoder encoder(level);
    for (const int channels : {1, 3}) {
      for (int width = 1; width <= 17; ++width) {
        for (const int height : {1, 2, 9}) {
          const cv::Mat image = testImage(width, height, channels, 100 * width + height);
          SCOPED_TRACE(::testing::Message() << "level " << level << ", " << width << " x " << height
                                            << " x " << channels);
          ASSERT_TRUE(encoder.encode(image, bytes));
          checkLayout(bytes, image, level);
          const cv::Mat decoded = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
          EXPECT_TRUE(sameImage(decoded, image));
          EXPECT_TRUE(sameImage(decoded, throughOpenCv(image)));
        }
      }
    }
  }
}

// Noise that deflate cannot shrink fills several IDAT chunks at every level.
TEST(PngEncoder, NoiseSpreadsOverSeveralDataChunks) {
  cv::Mat noise(300, 320, CV_8UC3);  // 288000 bytes, more than one chunk holds
  cv::RNG(3).fill(noise, cv::RNG::UNIFORM, 0, 256);
  std::vector<uchar> bytes;
  for (int level = kFastestPngLevel; level <= kSmallestPngLevel; ++level) {
    ASSERT_TRUE(PngEncoder(level).encode(noise, bytes)) << "level " << level;
    EXPECT_GE(checkLayout(bytes, noise, level), 2) << "level " << level;
    EXPECT_TRUE(sameImage(cv::imdecode(bytes, cv::IMREAD_UNCHANGED), noise)) << "level " << level;
  }
}

TEST(PngEncoder, ReadsAnImageThatIsNotContinuous) {
  for (const int channels : {1, 3}) {
    const cv::Mat whole = testImage(64, 48, channels, 9);
    const cv::Mat part = whole(cv::Rect(5, 7, 40, 30));
    ASSERT_FALSE(part.isContinuous());
    std::vector<uchar> bytes;
    ASSERT_TRUE(PngEncoder().encode(part, bytes));
    EXPECT_TRUE(sameImage(cv::imdecode(bytes, cv::IMREAD_UNCHANGED), part.clone()))
        << channels << " channel(s)";
  }
}

// The state kept from image to image (the compressor's history, its hash
// tables, the buffers) must not reach into the next file.
TEST(PngEncoder, AReusedEncoderWritesTheBytesOfAFreshOne) {
  const cv::Mat large = testImage(300, 200, 3, 1);
  const cv::Mat small = testImage(13, 5, 1, 2);
  for (int level = kFastestPngLevel; level <= kSmallestPngLevel; ++level) {
    std::vector<uchar> fresh;
    ASSERT_TRUE(PngEncoder(level).encode(small, fresh));
    PngEncoder reused(level);
    std::vector<uchar> bytes;
    ASSERT_TRUE(reused.encode(large, bytes));
    ASSERT_TRUE(reused.encode(small, bytes));
    EXPECT_EQ(bytes, fresh) << "level " << level;
  }
}

TEST(PngEncoder, RefusesWhatIsNotAnEightBitGreyOrColourImage) {
  const cv::Mat refused[] = {
      cv::Mat(), cv::Mat(4, 4, CV_16UC1, cv::Scalar(1)), cv::Mat(4, 4, CV_8UC2, cv::Scalar(1)),
      cv::Mat(4, 4, CV_8UC4, cv::Scalar(1)), cv::Mat(4, 4, CV_32FC3, cv::Scalar(1))};
  PngEncoder encoder;
  for (const cv::Mat& image : refused) {
    std::vector<uchar> bytes = {1, 2, 3};
    EXPECT_FALSE(encoder.encode(image, bytes)) << cv::typeToString(image.type());
    EXPECT_TRUE(bytes.empty());
  }
}

}  // namespace
}  // namespace plenoview
