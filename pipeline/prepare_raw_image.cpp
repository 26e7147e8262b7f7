#include "pipeline/prepare_raw_image.h"

#include <opencv2/imgproc.hpp>

namespace plenoview {

void MultiViewRenderer::prepareRawImage(FrameImages& images) const {
  cv::Mat& rawImage = images.rawImage;
  const int rawBorder = centerView.x;
  images.rawBorder = rawBorder;
  // copyMakeBorder takes the pixels around a region of a larger image as its
  // border where there are enough of them; when there are on every side,
  // widening the region gives the same pixels without a copy (loadRawImage
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

  const std::vector<int> levelSizes =
      scaleLevelPatchSizes(candidatePatchSizes, lensMargin, patchSizeStep);
  const int levels = static_cast<int>(levelSizes.size());

  const bool colour = rawImage.channels() == 3;
  if (!options.buildAllScaleLevels) {
    // The stages cut lens-sized windows only; each is computed when cut.
    images.scaledRawImage.clear();
    images.scaleLevelWindows.reset(rawImage, lensMask.cols, levelSizes);
    return;
  }

  std::vector<std::vector<cv::Mat>>& scaledRawImage = images.scaledRawImage;
  images.scaleLevelWindows.clear();
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
