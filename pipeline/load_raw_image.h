#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

namespace plenoview {

// MultiViewRenderer::loadRawImage(frame, images): the first stage of every
// frame. Reads calib, centerView. Writes images.rawImage: a deep copy of the
// frame brought to 8 bits with one or three channels (toEightBitFrame),
// turned by -calib.rotation about calib.center (turnBackMatrix: bilinear,
// same size, 0 where it comes from outside). rawImage is made as the middle
// of a black image larger by centerView.x on every side, which
// prepareRawImage then takes whole instead of copying; the previous frame's
// image is reused when nobody else holds it. The handle on `frame` is let go
// before returning.

// The affine matrix that turns a frame back by the grid's rotation about the
// grid centre (single-precision centre, angle in degrees). The angle is
// rotation x -180.0 / 3.14159265, with pi cut short to eight decimals, not
// the full pi of the calibration limits: the views must match the defined
// output byte for byte, and that is the turn it defines.
cv::Mat turnBackMatrix(const LensCalibration& calib);

}  // namespace plenoview
