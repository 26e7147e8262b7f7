#include "pipeline/load_raw_image.h"

#include "pipeline/to_eight_bit_frame.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace plenoview {

cv::Mat turnBackMatrix(const LensCalibration& calib) {
  const cv::Point2f centre(static_cast<float>(calib.center.x), static_cast<float>(calib.center.y));
  return cv::getRotationMatrix2D(centre, calib.rotation * -180.0 / 3.14159265, 1.0);
}

void MultiViewRenderer::loadRawImage(cv::Mat frame, FrameImages& images) const {
  // The stages take 8-bit samples with one or three channels only.
  cv::Mat eightBit = toEightBitFrame(frame);

  // The frame is turned into a new image of its own (the frame is the
  // caller's), made inside a black frame of the border that prepareRawImage
  // pads it by, so that the padding needs no copy. The level windows' hold on
  // the previous frame goes first, so that its image can be reused.
  images.scaleLevelWindows.releaseFrame();
  const int border = std::max(centerView.x, 0);
  const cv::Size paddedSize(eightBit.cols + 2 * border, eightBit.rows + 2 * border);
  cv::Mat& rawImage = images.rawImage;
  cv::Mat padded;
  if (rawImage.size() == paddedSize && rawImage.type() == eightBit.type() &&
      rawImage.isContinuous() && rawImage.u != nullptr && rawImage.u->refcount == 1) {
    // The previous frame's image, held by nobody else: its pixels are reused
    // (the same memory every frame), its border cleared.
    padded = rawImage;
    padded.rowRange(0, border).setTo(cv::Scalar::all(0));
    padded.rowRange(paddedSize.height - border, paddedSize.height).setTo(cv::Scalar::all(0));
    padded.colRange(0, border).setTo(cv::Scalar::all(0));
    padded.colRange(paddedSize.width - border, paddedSize.width).setTo(cv::Scalar::all(0));
  } else {
    rawImage.release();  // before the new image is made, not after
    padded = cv::Mat::zeros(paddedSize, eightBit.type());
  }
  rawImage = padded(cv::Rect(border, border, eightBit.cols, eightBit.rows));
  cv::warpAffine(eightBit, rawImage, turnBackMatrix(calib), eightBit.size(), cv::INTER_LINEAR,
                 cv::BORDER_CONSTANT, cv::Scalar::all(0));
  // Nothing reads the frame any more; a caller that handed it over frees it.
  eightBit.release();
  frame.release();
}

}  // namespace plenoview
