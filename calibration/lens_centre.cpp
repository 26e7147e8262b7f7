#include "calibration/lens_calibration.h"

#include <cmath>

namespace plenoview {

cv::Point2d lensCentre(const LensCalibration& calib, int type, int row, int column) {
  // Row classes alternate; a negative row (above the first whole one) still
  // takes the class of its parity.
  const int rowClass = ((row % 2) + 2) % 2;
  return {(calib.diameter * 3.0) * column + calib.subGridRefPos[rowClass][type].x,
          (calib.radius * std::sqrt(3.0)) * row + calib.subGridRefPos[0][type].y};
}

}  // namespace plenoview
