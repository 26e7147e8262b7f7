#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"
#include "tests/test_support.h"

#include <opencv2/core.hpp>

#include <memory>

namespace plenoview::testing {

// A hand-made lens grid: `refs[parity][type]` are the reference lens centres,
// rotation 0, centre `center`.
inline LensCalibration makeCalibration(double diameter, cv::Point num,
                                       const cv::Point2d (&refs)[2][3],
                                       cv::Point2d center = {0.0, 0.0}) {
  LensCalibration calib;
  calib.diameter = diameter;
  calib.radius = diameter * 0.5;
  calib.rotation = 0.0;
  calib.num = num;
  calib.center = center;
  for (int parity = 0; parity < 2; ++parity) {
    for (int t = 0; t < 3; ++t) calib.subGridRefPos[parity][t] = refs[parity][t];
  }
  return calib;
}

// The renderer's set-up prints the grid report; the tests do not want it.
inline std::unique_ptr<MultiViewRenderer> makeQuietRenderer(const LensCalibration& calib,
                                                            int viewNum) {
  CoutCapture quiet;
  return std::make_unique<MultiViewRenderer>(calib, viewNum);
}

}  // namespace plenoview::testing
