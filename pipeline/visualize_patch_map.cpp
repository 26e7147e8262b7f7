#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

namespace {

// Grey level of every possible patch size v for the largest candidate S:
// 255 - 255 x v / S, rounded to nearest (ties to even) and saturated, so the
// largest size is black and an empty pixel (0) white. Worked out in double
// per value, which is exact for the products and the ties. Without a largest
// candidate there is no scale and every level shows white.
cv::Mat patchMapShades(const std::vector<int>& candidates) {
  cv::Mat shades(1, 256, CV_8UC1, cv::Scalar::all(255));
  if (candidates.empty()) return shades;
  const double S = candidates.back();
  for (int v = 0; v < 256; ++v) {
    shades.at<uchar>(0, v) = cv::saturate_cast<uchar>(255.0 - 255.0 * v / S);
  }
  return shades;
}

}  // namespace

void MultiViewRenderer::visualizePatchMap() {
  const cv::Mat shades = patchMapShades(candidatePatchSizes);
  for (int t = 0; t < 3; ++t) {
    if (patchMap[t].empty()) {
      patchMapVis[t].release();
    } else {
      cv::LUT(patchMap[t], shades, patchMapVis[t]);
    }
  }
}

}  // namespace plenoview
