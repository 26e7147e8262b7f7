#include "calibration/lens_calibration.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace plenoview {
namespace {

// The grid of a 200 x 100 frame with D = 20 and lens-type offsets 0, 1, 2.
LensCalibration workedExample() {
  LensCalibration calib;
  calib.diameter = 20;
  calib.radius = 10;
  calib.rotation = 0;
  calib.num = {3, 5};
  calib.center = {100, 50};
  calib.offset[1] = {1, 0};
  calib.offset[2] = {2, 0};
  const double evenY = 50.0 - 20.0 * std::sqrt(3.0);  // 15.35898...
  const double oddY = 50.0 - 10.0 * std::sqrt(3.0);   // 32.67949...
  const double evenX[3] = {40, 20, 60};
  const double oddX[3] = {10, 50, 30};
  for (int t = 0; t < 3; ++t) {
    calib.subGridRefPos[0][t] = {evenX[t], evenY};
    calib.subGridRefPos[1][t] = {oddX[t], oddY};
  }
  return calib;
}

// The six significant digits of the worked example: 50 - 20 sqrt 3 =
// 15.35898... prints as 15.359, 50 - 10 sqrt 3 = 32.67949... as 32.6795.
TEST(MicroLensReport, FifteenLinesWithSixSignificantDigits) {
  EXPECT_EQ(workedExample().microLensParameterReport(), testing::kWorkedExampleReport);
}

TEST(MicroLensReport, UsesExponentsOnlyForVeryLargeOrSmallValues) {
  LensCalibration calib = workedExample();
  calib.offset[0] = {static_cast<double>(0.1f), 0.00001};  // prints as 0.1 and 1e-05
  calib.rotation = 0.0012;
  calib.center = {1234567, 123456};
  const std::string report = calib.microLensParameterReport();
  EXPECT_NE(report.find("offset[0]: [0.1, 1e-05]\n"), std::string::npos) << report;
  EXPECT_NE(report.find("rotation: 0.0012\n"), std::string::npos) << report;
  EXPECT_NE(report.find("center: [1.23457e+06, 123456]\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace plenoview
