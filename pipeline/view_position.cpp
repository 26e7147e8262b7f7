#include "renderer/multi_view_renderer.h"

#include <cmath>

namespace plenoview {

cv::Rect MultiViewRenderer::viewPosition(cv::Size maskSize, int lensType, int row, int column,
                                         cv::Point view, bool shifted) const {
  const double D = calib.diameter;
  const cv::Point2d ref = calib.subGridRefPos[0][lensType];
  // Sums are taken left to right, each int term converted on its own.
  double Px = (D * 3.0) * column + calib.subGridRefPos[row % 2][lensType].x;
  double Py = (calib.radius * std::sqrt(3.0)) * row + ref.y;
  if (shifted) {
    Px = Px + (view.x - centerView.x) + rawBorder;
    Py = Py + (view.y - centerView.y) + rawBorder;
  }
  const double q = (calib.radius - lensMargin) / D;
  const double left = (Px - ref.x) * q + ref.x - maskSize.width * 0.5;
  const double top = (Py - ref.y) * q + ref.y - maskSize.height * 0.5;
  return cv::Rect(cvRound(left), cvRound(top), maskSize.width, maskSize.height);
}

}  // namespace plenoview
