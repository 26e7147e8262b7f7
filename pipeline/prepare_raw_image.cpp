#include "renderer/multi_view_renderer.h"

#include <opencv2/imgproc.hpp>

namespace plenoview {

void MultiViewRenderer::prepareRawImage() {
  rawBorder = centerView.x;
  cv::copyMakeBorder(rawImage, rawImage, rawBorder, rawBorder, rawBorder, rawBorder,
                     cv::BORDER_CONSTANT, cv::Scalar::all(0));

  const bool colour = rawImage.channels() == 3;
  scaledRawImage.resize(colour ? 2 : 1);
  // Without candidates the extra levels have no size to continue from, and
  // nothing would be cut from any level: build none.
  const int n = static_cast<int>(candidatePatchSizes.size());
  const int levels = n == 0 ? 0 : n + 2 * lensMargin;
  for (std::vector<cv::Mat>& entry : scaledRawImage) entry.resize(levels);

  for (int i = 0; i < levels; ++i) {
    // Level i scales a patch of its nominal size s to one lens diameter.
    const int s =
        i < n ? candidatePatchSizes[i] : candidatePatchSizes[n - 1] + patchSizeStep * (i - n + 1);
    // Single precision throughout: the int sides are converted to float and
    // the products truncated (a width of 2000 at 23/5 gives 9200, not 9199).
    const float f = static_cast<float>(lensMask.cols) / static_cast<float>(s);
    const cv::Size size(static_cast<int>(rawImage.cols * f), static_cast<int>(rawImage.rows * f));
    if (colour) {
      cv::resize(rawImage, scaledRawImage[1][i], size, 0, 0, cv::INTER_LINEAR);
      cv::cvtColor(scaledRawImage[1][i], scaledRawImage[0][i], cv::COLOR_RGB2GRAY);
    } else {
      cv::resize(rawImage, scaledRawImage[0][i], size, 0, 0, cv::INTER_LINEAR);
    }
  }
}

}  // namespace plenoview
