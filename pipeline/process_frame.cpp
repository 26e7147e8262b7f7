#include "output/display.h"
#include "pipeline/to_eight_bit_frame.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/imgproc.hpp>

namespace plenoview {

void MultiViewRenderer::loadRawImage(cv::Mat frame) {
  // The stages take 8-bit samples with one or three channels only.
  rawImage = toEightBitFrame(frame).clone();

  // Turn the frame back by the grid's rotation about the grid centre.
  const cv::Point2f centre(static_cast<float>(calib.center.x), static_cast<float>(calib.center.y));
  const double angle = calib.rotation * -180.0 / 3.14159265;
  const cv::Mat rotation = cv::getRotationMatrix2D(centre, angle, 1.0);
  cv::warpAffine(rawImage, rawImage, rotation, rawImage.size(), cv::INTER_LINEAR,
                 cv::BORDER_CONSTANT, cv::Scalar::all(0));
}

void MultiViewRenderer::processFrame(cv::Mat frame, ViewGrid& viewGrid) {
  loadRawImage(frame);
  prepareRawImage();
  estimatePatchSizes(centerView);
  buildPatchMap();
  cv::Point firstView(0, 0);
  renderMultiViewImage(false, false, 0, firstView);
  alignLensTypes();
  blendLensTypes(viewGrid);
  cropAndOrientViews(viewGrid);

  // The driver polls for 'q' after saving; a key taken here that is not 'v'
  // is dropped.
  if (pollKey(1) == kInspectKey) showInspection();
}

}  // namespace plenoview
