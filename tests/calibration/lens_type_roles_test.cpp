#include "calibration/lens_type_roles.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

TEST(LensTypeRoles, ComparesTruncatedPositionsAndFallsBackToTypeZero) {
  struct Case {
    double X[3];
    int left, middle, right;
  };
  const Case cases[] = {
      // Truncated 50, 10, 30; 10.5 + 20 = 30.5 -> 30; 10.5 + 40 = 50.5 -> 50.
      {{50.5, 10.5, 30.5}, 1, 2, 0},
      // 10.9 + 20 = 30.9 -> 30 matches none of 10, 31, 50; 50.9 -> 50.
      {{10.9, 31.2, 50.5}, 0, 0, 2},
      // Equal positions: the first type in the order 0, 1, 2 takes the role.
      {{12.0, 12.0, 32.0}, 0, 2, 0},
  };
  for (const Case& c : cases) {
    LensCalibration calib;
    calib.diameter = 20.0;
    for (int t = 0; t < 3; ++t) calib.subGridRefPos[0][t].x = c.X[t];
    // Odd rows never count.
    for (int t = 0; t < 3; ++t) calib.subGridRefPos[1][t].x = 1000.0 + t;
    const LensTypeRoles roles = lensTypeRoles(calib);
    SCOPED_TRACE(::testing::Message() << "X = " << c.X[0] << ", " << c.X[1] << ", " << c.X[2]);
    EXPECT_EQ(roles.leftType, c.left);
    EXPECT_EQ(roles.middleType, c.middle);
    EXPECT_EQ(roles.rightType, c.right);
  }
}

}  // namespace
}  // namespace plenoview
