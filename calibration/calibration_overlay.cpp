#include "calibration/lens_calibration.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

namespace plenoview {

namespace {

// B, G, R; used as they stand whatever the image depth.
const cv::Scalar kRed(0, 0, 255);
const cv::Scalar kGreen(0, 255, 0);
const cv::Scalar kBlue(255, 0, 0);

// Circle positions carry 4 fractional bits, so a lens centre between pixels
// is drawn where it is and not snapped to the pixel grid.
constexpr int kFractionalBits = 4;
constexpr double kFractionalScale = 1 << kFractionalBits;

// Centre rounded (ties to even), radius truncated, both in 1/16 pixels.
void drawLensCircle(cv::Mat& overlay, cv::Point2d centre, double radius, const cv::Scalar& colour) {
  const cv::Point fixedCentre(cvRound(centre.x * kFractionalScale),
                              cvRound(centre.y * kFractionalScale));
  const int fixedRadius = static_cast<int>(radius * kFractionalScale);
  cv::circle(overlay, fixedCentre, fixedRadius, colour, 1, cv::LINE_8, kFractionalBits);
}

}  // namespace

cv::Mat LensCalibration::calibrationOverlay(const cv::Mat& image) const {
  cv::Mat overlay;
  if (image.empty()) return overlay;
  // Grey frames are spread to three equal channels; colour frames (which the
  // grey conversion cannot take) are drawn on directly, on a copy.
  if (image.channels() == 1) {
    cv::cvtColor(image, overlay, cv::COLOR_GRAY2BGR);
  } else if (image.channels() == 4) {
    cv::cvtColor(image, overlay, cv::COLOR_BGRA2BGR);
  } else {
    overlay = image.clone();
  }

  // The cross marks the image centre, not the grid centre: the offset between
  // the two is what the user checks.
  const int W = overlay.cols;
  const int H = overlay.rows;
  const int midX = cvRound(W * 0.5);
  const int midY = cvRound(H * 0.5);
  cv::line(overlay, cv::Point(midX, 0), cv::Point(midX, H), kBlue, 2, cv::LINE_8, 0);
  cv::line(overlay, cv::Point(0, midY), cv::Point(W, midY), kBlue, 2, cv::LINE_8, 0);

  // Rows are counted down from row class 0's first row, the top one. The
  // three types of a row share its y (a grid read from a file always has
  // them at one height), so type 0's serves all.
  const cv::Scalar typeColour[kLensTypes] = {kRed, kGreen, kBlue};
  for (int type = 0; type < kLensTypes; ++type) {
    for (int row = 0; row < num.y; ++row) {
      for (int column = 0; column < num.x; ++column) {
        const cv::Point2d centre(lensCentre(*this, type, row, column).x,
                                 lensCentre(*this, 0, row, column).y);
        drawLensCircle(overlay, centre, radius, typeColour[type]);
      }
    }
  }
  drawLensCircle(overlay, center, radius, kRed);
  return overlay;
}

}  // namespace plenoview
