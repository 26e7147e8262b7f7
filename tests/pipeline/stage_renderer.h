#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"
#include "tests/test_support.h"

#include <memory>

namespace plenoview::testing {

// A renderer with N views per side for lenses of `diameter` in num.y rows of
// num.x lenses per type, every reference lens at (0, 0). A test then places
// the lenses (calib.subGridRefPos) and sizes the views (viewSize) for its own
// case. The grid report of the set-up is kept off the console.
inline std::unique_ptr<MultiViewRenderer> makeStageRenderer(double diameter, cv::Point num, int N) {
  LensCalibration calib;
  calib.diameter = diameter;
  calib.radius = diameter * 0.5;
  calib.num = num;
  const CoutCapture quiet;
  return std::make_unique<MultiViewRenderer>(calib, N);
}

// Places the reference lens of `type` at `even` for even rows and `odd` for odd rows.
inline void placeType(MultiViewRenderer& renderer, int type, cv::Point2d even, cv::Point2d odd) {
  renderer.calib.subGridRefPos[0][type] = even;
  renderer.calib.subGridRefPos[1][type] = odd;
}

}  // namespace plenoview::testing
