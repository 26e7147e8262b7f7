#include "renderer/multi_view_renderer.h"

#include <iostream>

namespace plenoview {

bool checkRoiRange(const cv::Mat& image, const cv::Rect& window) {
  if (image.cols >= window.x + window.width && image.rows >= window.y + window.height &&
      window.x >= 0 && window.y >= 0) {
    return true;
  }
  std::cout << "Out of Roi Range: (" << image.cols << "," << image.rows << ") -> "
            << "[" << window.width << " x " << window.height << " from (" << window.x << ", "
            << window.y << ")]" << std::endl;
  return false;
}

}  // namespace plenoview
