#include "renderer/multi_view_renderer.h"

#include <iostream>
#include <sstream>

namespace plenoview {

namespace {

// The capture active on this thread, if any.
thread_local std::string* capturedRoiMessages = nullptr;

}  // namespace

RoiMessageCapture::RoiMessageCapture(std::string& sink) : previous_(capturedRoiMessages) {
  capturedRoiMessages = &sink;
}

RoiMessageCapture::~RoiMessageCapture() { capturedRoiMessages = previous_; }

void writeRoiMessages(const std::string& text) {
  if (text.empty()) return;
  if (capturedRoiMessages) {
    capturedRoiMessages->append(text);
  } else {
    std::cout << text << std::flush;
  }
}

bool checkRoiRange(cv::Size imageSize, const cv::Rect& window) {
  if (imageSize.width >= window.x + window.width && imageSize.height >= window.y + window.height &&
      window.x >= 0 && window.y >= 0) {
    return true;
  }
  std::ostringstream line;
  line << "Out of Roi Range: (" << imageSize.width << "," << imageSize.height << ") -> "
       << "[" << window.width << " x " << window.height << " from (" << window.x << ", " << window.y
       << ")]\n";
  writeRoiMessages(line.str());
  return false;
}

bool checkRoiRange(const cv::Mat& image, const cv::Rect& window) {
  return checkRoiRange(cv::Size(image.cols, image.rows), window);
}

}  // namespace plenoview
