#include "python/calibration_object.h"

#include "base/plenoview_error.h"
#include "calibration/calibration_limits.h"
#include "io/frame_checks.h"

#include <sstream>

namespace plenoview::python {

CalibrationObject loadCalibration(const std::string& path, long long width, long long height) {
  // The command line takes the size from the first frame, which the frame
  // checks hold to these limits; a size given by hand gets the same.
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 1 || height < 1) {
    throw PlenoviewError("frame size " + size + ": both sides must be at least 1 pixel");
  }
  if (width > kMaxFrameSide || height > kMaxFrameSide || width * height > kMaxFramePixels) {
    throw PlenoviewError("frame size " + size +
                         ": frames may have at most 65535 per side and 268435456 (2^28) in all");
  }
  CalibrationObject calibration;
  calibration.path = path;
  calibration.frameSize = cv::Size(static_cast<int>(width), static_cast<int>(height));
  readCalibration(calibration.calib, calibration.frameSize, path);
  calibration.roles = lensTypeRoles(calibration.calib);
  return calibration;
}

std::string calibrationRepr(const CalibrationObject& calibration) {
  std::ostringstream text;
  text << "<plenoview.Calibration '" << calibration.path << "' frame_size=("
       << calibration.frameSize.width << ", " << calibration.frameSize.height
       << ") diameter=" << formatValue(calibration.calib.diameter) << " num=("
       << calibration.calib.num.x << ", " << calibration.calib.num.y << ")>";
  return text.str();
}

}  // namespace plenoview::python
