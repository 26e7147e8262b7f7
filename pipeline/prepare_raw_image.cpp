#include "renderer/multi_view_renderer.h"

#include <opencv2/imgproc.hpp>

namespace plenoview {

void MultiViewRenderer::prepareRawImage() {
  rawBorder = centerView.x;
  // copyMakeBorder takes the pixels around a region of a larger image as its
  // border where there are enough of them; when there are on every side,
  // widening the region gives the same pixels without a copy (processFrame
  // makes rawImage so, inside a black frame).
  bool room = false;
  if (!rawImage.empty() && rawImage.isSubmatrix() && rawBorder >= 0) {
    cv::Size whole;
    cv::Point at;
    rawImage.locateROI(whole, at);
    room = at.x >= rawBorder && at.y >= rawBorder &&
           whole.width - at.x - rawImage.cols >= rawBorder &&
           whole.height - at.y - rawImage.rows >= rawBorder;
  }
  if (room) {
    rawImage.adjustROI(rawBorder, rawBorder, rawBorder, rawBorder);
  } else {
    cv::copyMakeBorder(rawImage, rawImage, rawBorder, rawBorder, rawBorder, rawBorder,
                       cv::BORDER_CONSTANT, cv::Scalar::all(0));
  }

  // Without candidates the extra levels have no size to continue from, and
  // nothing would be cut from any level: there are none.
  const int n = static_cast<int>(candidatePatchSizes.size());
  const int levels = n == 0 ? 0 : n + 2 * lensMargin;
  std::vector<int> levelSizes(levels);
  for (int i = 0; i < levels; ++i) {
    // Level i scales a patch of its nominal size to one lens diameter.
    levelSizes[i] =
        i < n ? candidatePatchSizes[i] : candidatePatchSizes[n - 1] + patchSizeStep * (i - n + 1);
  }

  const bool colour = rawImage.channels() == 3;
  if (!options.buildAllScaleLevels) {
    // The stages cut lens-sized windows only; each is computed when cut.
    scaledRawImage.clear();
    scaleLevelWindows.reset(rawImage, lensMask.cols, levelSizes);
    return;
  }

  scaleLevelWindows.clear();
  scaledRawImage.resize(colour ? 2 : 1);
  for (std::vector<cv::Mat>& entry : scaledRawImage) entry.resize(levels);
  for (int i = 0; i < levels; ++i) {
    // Single precision throughout: the int sides are converted to float and
    // the products truncated (a width of 2000 at 23/5 gives 9200, not 9199).
    const cv::Size size = scaleLevelSize(rawImage.size(), lensMask.cols, levelSizes[i]);
    if (colour) {
      cv::resize(rawImage, scaledRawImage[1][i], size, 0, 0, cv::INTER_LINEAR);
      cv::cvtColor(scaledRawImage[1][i], scaledRawImage[0][i], cv::COLOR_RGB2GRAY);
    } else {
      cv::resize(rawImage, scaledRawImage[0][i], size, 0, 0, cv::INTER_LINEAR);
    }
  }
}

}  // namespace plenoview
