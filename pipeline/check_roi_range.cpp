#include "pipeline/check_roi_range.h"

#include <sstream>

namespace plenoview {

bool checkRoiRange(cv::Size imageSize, const cv::Rect& window, const LineSink& report) {
  if (imageSize.width >= window.x + window.width && imageSize.height >= window.y + window.height &&
      window.x >= 0 && window.y >= 0) {
    return true;
  }
  if (report) {
    std::ostringstream line;
    line << "Out of Roi Range: (" << imageSize.width << "," << imageSize.height << ") -> "
         << "[" << window.width << " x " << window.height << " from (" << window.x << ", "
         << window.y << ")]";
    report(line.str());
  }
  return false;
}

bool checkRoiRange(const cv::Mat& image, const cv::Rect& window, const LineSink& report) {
  return checkRoiRange(cv::Size(image.cols, image.rows), window, report);
}

}  // namespace plenoview
