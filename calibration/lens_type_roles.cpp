#include "calibration/lens_type_roles.h"

#include <algorithm>

namespace plenoview {

LensTypeRoles lensTypeRoles(const LensCalibration& calib) {
  const double X[kLensTypes] = {calib.subGridRefPos[0][0].x, calib.subGridRefPos[0][1].x,
                                calib.subGridRefPos[0][2].x};
  const double minX = std::min({X[0], X[1], X[2]});
  // The first type whose truncated x equals the truncated target, else type 0.
  const auto typeAt = [&](double target) {
    for (int type = 0; type < kLensTypes; ++type) {
      if (static_cast<int>(X[type]) == static_cast<int>(target)) return type;
    }
    return 0;
  };
  LensTypeRoles roles;
  roles.leftType = typeAt(minX);
  roles.middleType = typeAt(minX + calib.diameter);
  roles.rightType = typeAt(minX + 2 * calib.diameter);
  return roles;
}

}  // namespace plenoview
