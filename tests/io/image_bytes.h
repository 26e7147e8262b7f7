#pragma once

// Image files as bytes, for the tests of the header checks: encoded by the
// library's encoder, or taken apart and rebuilt chunk by chunk.

#include "tests/test_support.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace plenoview::testing {

using Bytes = std::string;

inline Bytes encode(const std::string& extension, const cv::Mat& image,
                    const std::vector<int>& parameters = {}) {
  std::vector<uchar> buffer;
  cv::imencode(extension, image, buffer, parameters);
  return Bytes(buffer.begin(), buffer.end());
}

inline cv::Mat pattern(int rows, int cols, int type) {
  cv::Mat image(rows, cols, type);
  cv::randu(image, 0, 255);
  return image;
}

inline std::uint32_t crc(const Bytes& data) { return testing::pngCrc32(data.data(), data.size()); }

inline void putBigEndian(Bytes& bytes, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

inline Bytes chunk(const Bytes& type, const Bytes& data) {
  Bytes out(4, '\0');
  putBigEndian(out, 0, static_cast<std::uint32_t>(data.size()));
  out += type + data + Bytes(4, '\0');
  putBigEndian(out, out.size() - 4, crc(type + data));
  return out;
}

// A PNG made by the encoder, its IHDR fields then rewritten (CRC kept
// correct). The IHDR data starts at byte 16: width, height, depth, colour
// type, compression, filter, interlace.
inline Bytes pngWithHeader(std::uint32_t width, std::uint32_t height, int depth = 8,
                           int colourType = 0, int interlace = 0) {
  Bytes png = encode(".png", pattern(7, 30, CV_8UC1));
  putBigEndian(png, 16, width);
  putBigEndian(png, 20, height);
  png[24] = static_cast<char>(depth);
  png[25] = static_cast<char>(colourType);
  png[28] = static_cast<char>(interlace);
  putBigEndian(png, 29, crc(png.substr(12, 17)));
  return png;
}

inline const Bytes kPngSignature("\x89PNG\r\n\x1a\n", 8);

}  // namespace plenoview::testing
