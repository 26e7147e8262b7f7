#pragma once

// Lenslet video frames as bytes, shared by the tests of the video sources and
// sinks: random planes, their raw 8- and 10-bit bytes, and the picture the
// pipeline must see for them.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <string>

namespace plenoview::testing {

// The planes of frame k of a `size` video, different for every k: I420 (Y,
// U, V; H x 3/2 rows) or, for mono, Y alone.
inline cv::Mat videoPlanes(cv::Size size, int k, bool mono) {
  cv::Mat planes(mono ? size.height : size.height * 3 / 2, size.width, CV_8UC1);
  cv::RNG rng(static_cast<uint64_t>(k) + 101);
  rng.fill(planes, cv::RNG::UNIFORM, 0, 256);
  return planes;
}

inline std::string bytesOf(const cv::Mat& planes) {
  return std::string(reinterpret_cast<const char*>(planes.data), planes.total());
}

// 10-bit little-endian words v << 2, with low bits that the reading drops.
inline std::string tenBitBytes(const cv::Mat& planes) {
  std::string bytes;
  for (size_t i = 0; i < planes.total(); ++i) {
    const unsigned word = static_cast<unsigned>(planes.data[i]) << 2 | (i % 4);
    bytes += static_cast<char>(word & 0xff);
    bytes += static_cast<char>(word >> 8);
  }
  return bytes;
}

// What the pipeline must see: cvtColor(YUV2BGR_I420) of colour planes, the Y
// plane of grey ones.
inline cv::Mat videoPicture(const cv::Mat& planes, bool mono) {
  if (mono) return planes;
  cv::Mat bgr;
  cv::cvtColor(planes, bgr, cv::COLOR_YUV2BGR_I420);
  return bgr;
}

}  // namespace plenoview::testing
