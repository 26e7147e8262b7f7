#include "pipeline/estimate_patch_sizes.h"

#include <opencv2/imgproc.hpp>

#include <array>
#include <cmath>
#include <vector>

namespace plenoview {

cv::Mat scoreLensEdges(const MultiViewRenderer& renderer, const cv::Mat& laplacian, int lensType,
                       cv::Point view) {
  const LensCalibration& calib = renderer.calib;
  const cv::Mat& ring = renderer.lensEdgeMask;
  const double ringSum = cv::sum(ring)[0];

  cv::Mat scores = cv::Mat::zeros(calib.num.y, calib.num.x, CV_64FC1);
  // Cleared once, not per lens: a window also sums what overlapping lenses
  // scored before it left there.
  cv::Mat edgeImage = cv::Mat::zeros(laplacian.size(), CV_8UC1);
  for (int j = 0; j < calib.num.y; ++j) {
    for (int k = 0; k < calib.num.x; ++k) {
      const cv::Rect window = renderer.viewPosition(ring.size(), lensType, j, k, view, true);
      if (!checkRoiRange(laplacian, window)) continue;
      cv::Mat edges = edgeImage(window);
      laplacian(window).copyTo(edges, ring);
      const double score = std::floor(cv::sum(edges)[0] / ringSum * 100.0);
      scores.at<double>(j, k) += score;
    }
  }
  return scores;
}

void selectPatchSizes(const std::vector<cv::Mat>& scoreTables, const std::vector<int>& candidates,
                      cv::Mat& patchSize) {
  for (int j = 0; j < patchSize.rows; ++j) {
    for (int k = 0; k < patchSize.cols; ++k) {
      // One evaluated view: a score of 100 or more never wins.
      int best = 100;
      for (size_t i = 0; i < candidates.size(); ++i) {
        const int v = static_cast<int>(scoreTables[i].at<double>(j, k));
        if (v < best) {
          best = v;
          patchSize.at<uchar>(j, k) = static_cast<uchar>(candidates[i] & 0xFF);
        }
      }
    }
  }
}

void MultiViewRenderer::estimatePatchSizes(cv::Point view) {
  const size_t n = candidatePatchSizes.size();

  // Every lens at one candidate size gives the same rendering for every lens
  // type pass, so each candidate is rendered once and its three Laplacians
  // are kept: laplacians[i][t].
  std::vector<std::array<cv::Mat, 3>> laplacians(n);
  for (size_t i = 0; i < n; ++i) {
    cv::Point position = view;  // the rendering advances the pair it is given
    renderMultiViewImage(true, true, candidatePatchSizes[i], position);
    for (int t = 0; t < 3; ++t) {
      // Aperture 1: the 3 x 3 cross with centre -4, scaled by 3, saturated to
      // 8 bits (negative responses become 0).
      cv::Laplacian(multiViewImage[t][view.x][view.y], laplacians[i][t], CV_8U, 1, 3.0, 0.0,
                    cv::BORDER_REFLECT_101);
    }
  }

  // Scoring and selection by type, then candidate, so that the window
  // messages come in that order.
  for (int t = 0; t < 3; ++t) {
    std::vector<cv::Mat> scoreTables(n);
    for (size_t i = 0; i < n; ++i) {
      scoreTables[i] = scoreLensEdges(*this, laplacians[i][t], t, view);
      laplacians[i][t].release();
    }
    selectPatchSizes(scoreTables, candidatePatchSizes, patchSize[t]);
  }
}

}  // namespace plenoview
