#pragma once

#include "calibration/lens_calibration.h"

namespace plenoview {

// Which lens type sits left, in the middle and right in the even lens rows.
// With X0..X2 the x of the even-row reference lenses and minX their minimum,
// all compared after truncation toward zero: left is the first type with
// X == minX, middle the first with X == minX + diameter, right the first with
// X == minX + 2 x diameter. A role that no type matches falls back to type 0.
struct LensTypeRoles {
  int leftType = 0;
  int middleType = 0;
  int rightType = 0;
};

LensTypeRoles lensTypeRoles(const LensCalibration& calib);

}  // namespace plenoview
