#include "calibration/lens_calibration.h"

namespace plenoview {

void LensCalibration::drawCalibrationImage(const cv::Mat& image) const {
  (void)image;  // The overlay is drawn by the inspection work; not yet built.
}

}  // namespace plenoview
