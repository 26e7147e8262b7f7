#include "calibration/lens_calibration.h"

#include <sstream>
#include <string>

namespace plenoview {

// Values use the stream's default formatting (as %g: six significant digits,
// trailing zeros dropped), which is what users compare with their calibration.
std::string LensCalibration::microLensParameterReport() const {
  std::ostringstream out;
  out << "==========MicroLens Parameter==========\n";
  out << "diameter: " << diameter << "\n";
  out << "rotation: " << rotation << "\n";
  out << "num: "
      << "[" << num.x << ", " << num.y << "]\n";
  out << "center: "
      << "[" << center.x << ", " << center.y << "]\n";
  for (int type = 0; type < kLensTypes; ++type) {
    out << "offset[" << type << "]: "
        << "[" << offset[type].x << ", " << offset[type].y << "]\n";
  }
  for (int c = 0; c < 2; ++c) {
    for (int type = 0; type < kLensTypes; ++type) {
      out << "subGridRefPos[" << c << "][" << type << "]: "
          << "[" << subGridRefPos[c][type].x << ", " << subGridRefPos[c][type].y << "]\n";
    }
  }
  out << "=======================================\n";
  return out.str();
}

}  // namespace plenoview
