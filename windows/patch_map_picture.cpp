#include "windows/patch_map_picture.h"

namespace plenoview {

cv::Mat patchMapPicture(const cv::Mat& patchMap, const std::vector<int>& candidatePatchSizes) {
  if (patchMap.empty()) return cv::Mat();
  // The shade of every possible size, worked out in double per value, which
  // is exact for the products and the ties.
  cv::Mat shades(1, 256, CV_8UC1, cv::Scalar::all(255));
  if (!candidatePatchSizes.empty()) {
    const double S = candidatePatchSizes.back();
    for (int v = 0; v < 256; ++v) {
      shades.at<uchar>(0, v) = cv::saturate_cast<uchar>(255.0 - 255.0 * v / S);
    }
  }
  cv::Mat picture;
  cv::LUT(patchMap, shades, picture);
  return picture;
}

}  // namespace plenoview
