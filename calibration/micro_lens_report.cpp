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
  for (int t = 0; t < 3; ++t) {
    out << "offset[" << t << "]: "
        << "[" << offset[t].x << ", " << offset[t].y << "]\n";
  }
  for (int c = 0; c < 2; ++c) {
    for (int t = 0; t < 3; ++t) {
      out << "subGridRefPos[" << c << "][" << t << "]: "
          << "[" << subGridRefPos[c][t].x << ", " << subGridRefPos[c][t].y << "]\n";
    }
  }
  out << "=======================================\n";
  return out.str();
}

}  // namespace plenoview
