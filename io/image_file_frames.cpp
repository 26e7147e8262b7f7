#include "io/image_file_frames.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "io/frame_checks.h"

#include <opencv2/imgcodecs.hpp>

#include <string>
#include <utility>

namespace plenoview {

ImageFileFrames::ImageFileFrames(std::string pattern) : pattern_(std::move(pattern)) {}

cv::Mat ImageFileFrames::read(int index) {
  const std::string path = formatPath(pattern_, index);
  checkFrameFile(path, index);
  cv::Mat frame;
  try {
    frame = cv::imread(path, cv::IMREAD_UNCHANGED);
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
