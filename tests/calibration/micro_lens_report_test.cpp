#include "calibration/lens_calibration.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

// The whole report of the worked example (kWorkedExampleReport) is checked on
// the binary's stdout by the end-to-end tests; here the values that take an
// exponent or more digits.
TEST(MicroLensReport, UsesExponentsOnlyForVeryLargeOrSmallValues) {
  LensCalibration calib;
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
