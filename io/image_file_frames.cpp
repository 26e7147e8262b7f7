#include "io/image_file_frames.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "io/frame_checks.h"
#include "io/png_decoder.h"
#include "io/png_format.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>

namespace plenoview {

ImageFileFrames::ImageFileFrames(std::string pattern) : pattern_(std::move(pattern)) {}

cv::Mat ImageFileFrames::decodeFile(const std::string& path) {
  // A PNG file is read whole into bytes_ and decoded into an image of the
  // pool that nobody holds any more: frame after frame the same memory, no
  // page of it touched for the first time. Other formats go through imread,
  // whose decoders do not all read from memory.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size < 8) return cv::imread(path, cv::IMREAD_UNCHANGED);
  bytes_.resize(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes_.data()), size) ||
      !std::equal(kPngSignature, kPngSignature + 8, bytes_.begin())) {
    return cv::imread(path, cv::IMREAD_UNCHANGED);
  }
  cv::Mat& decoded = pool_.take();
  // Plain 8-bit grey and RGB files, nearly all frames, are decoded here
  // faster; every other file, and any that turns out damaged, as before.
  if (decodePlainPng(bytes_, decoded)) return decoded;
  cv::imdecode(bytes_, cv::IMREAD_UNCHANGED, &decoded);
  return decoded;
}

cv::Mat ImageFileFrames::read(int index) {
  const std::string path = formatPath(pattern_, index);
  checkFrameFile(path, index);
  cv::Mat frame;
  try {
    frame = decodeFile(path);
  } catch (const cv::Exception& e) {
    throw PlenoviewError("frame " + std::to_string(index) + ": cannot read \"" + path +
                         "\": " + e.err);
  }
  if (frame.empty()) {
    throw PlenoviewError("frame " + std::to_string(index) + ": cannot read \"" + path +
                         "\" (missing, empty or not an image)");
  }
  checkFrameImage(frame, path, index, firstSize_);
  if (firstSize_.empty()) firstSize_ = frame.size();
  return frame;
}

}  // namespace plenoview
