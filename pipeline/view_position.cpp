#include "pipeline/view_position.h"

namespace plenoview {

namespace {

cv::Rect placeWindow(const MultiViewRenderer& renderer, cv::Size maskSize, int type,
                     cv::Point2d centre) {
  const LensCalibration& calib = renderer.calib;
  const cv::Point2d ref = calib.subGridRefPos[0][type];
  const double q = (calib.radius - renderer.lensMargin) / calib.diameter;
  const double left = (centre.x - ref.x) * q + ref.x - maskSize.width * 0.5;
  const double top = (centre.y - ref.y) * q + ref.y - maskSize.height * 0.5;
  return cv::Rect(cvRound(left), cvRound(top), maskSize.width, maskSize.height);
}

}  // namespace

cv::Rect MultiViewRenderer::viewPosition(cv::Size maskSize, int type, int row, int column) const {
  return placeWindow(*this, maskSize, type, lensCentre(calib, type, row, column));
}

cv::Rect MultiViewRenderer::viewPosition(cv::Size maskSize, int type, int row, int column,
                                         cv::Point view, int rawBorder) const {
  const cv::Point2d lens = lensCentre(calib, type, row, column);
  // Sums are taken left to right, each int term converted on its own.
  const cv::Point2d centre(lens.x + (view.x - centerView.x) + rawBorder,
                           lens.y + (view.y - centerView.y) + rawBorder);
  return placeWindow(*this, maskSize, type, centre);
}

}  // namespace plenoview
