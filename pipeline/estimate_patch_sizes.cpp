#include "pipeline/estimate_patch_sizes.h"

#include "renderer/parallel_work.h"

#include <opencv2/imgproc.hpp>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace plenoview {

cv::Mat scoreLensEdges(const MultiViewRenderer& renderer, const cv::Mat& laplacian, int lensType,
                       cv::Point view) {
  const LensCalibration& calib = renderer.calib;
  const cv::Mat& ring = renderer.lensEdgeMask;
  CV_Assert(laplacian.type() == CV_8UC1 && ring.type() == CV_8UC1);
  const double ringSum = cv::sum(ring)[0];

  // The ring's pixels (those the masked copy takes), row by row.
  std::vector<cv::Point> ringPixels;
  for (int r = 0; r < ring.rows; ++r) {
    for (int c = 0; c < ring.cols; ++c) {
      if (ring.at<uchar>(r, c) != 0) ringPixels.emplace_back(c, r);
    }
  }

  cv::Mat scores = cv::Mat::zeros(calib.num.y, calib.num.x, CV_64FC1);
  // Cleared once, not per lens: a window also sums what overlapping lenses
  // scored before it left there.
  cv::Mat edgeImage = cv::Mat::zeros(laplacian.size(), CV_8UC1);
  for (int j = 0; j < calib.num.y; ++j) {
    for (int k = 0; k < calib.num.x; ++k) {
      const cv::Rect window = renderer.viewPosition(ring.size(), lensType, j, k, view, true);
      if (!checkRoiRange(laplacian, window)) continue;
      // The Laplacian through the ring into edgeImage, then the sum of the
      // whole window (exact in integers, as the double sum of bytes is).
      for (const cv::Point p : ringPixels) {
        edgeImage.at<uchar>(window.y + p.y, window.x + p.x) =
            laplacian.at<uchar>(window.y + p.y, window.x + p.x);
      }
      long long sum = 0;
      for (int r = 0; r < window.height; ++r) {
        const uchar* e = edgeImage.ptr<uchar>(window.y + r) + window.x;
        int rowSum = 0;
        for (int c = 0; c < window.width; ++c) rowSum += e[c];
        sum += rowSum;
      }
      const double score = std::floor(static_cast<double>(sum) / ringSum * 100.0);
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
  // type pass, so each candidate is rendered once and its three views are
  // scored right away: scoreTables[t][i]. The scoring's window lines are held
  // back and printed after all renderings, by type, then candidate.
  std::array<std::vector<cv::Mat>, 3> scoreTables;
  std::array<std::vector<std::string>, 3> messages;
  for (int t = 0; t < 3; ++t) {
    scoreTables[t].resize(n);
    messages[t].resize(n);
  }
  for (size_t i = 0; i < n; ++i) {
    cv::Point position = view;  // the rendering advances the pair it is given
    renderMultiViewImage(true, true, candidatePatchSizes[i], position);
    parallelForEach(3, [&](int t) {
      RoiMessageCapture capture(messages[t][i]);
      // Aperture 1: the 3 x 3 cross with centre -4, scaled by 3, saturated to
      // 8 bits (negative responses become 0).
      cv::Mat laplacian;
      cv::Laplacian(multiViewImage[t][view.x][view.y], laplacian, CV_8U, 1, 3.0, 0.0,
                    cv::BORDER_REFLECT_101);
      scoreTables[t][i] = scoreLensEdges(*this, laplacian, t, view);
    });
  }

  for (int t = 0; t < 3; ++t) {
    for (const std::string& text : messages[t]) writeRoiMessages(text);
    selectPatchSizes(scoreTables[t], candidatePatchSizes, patchSize[t]);
  }
}

}  // namespace plenoview
