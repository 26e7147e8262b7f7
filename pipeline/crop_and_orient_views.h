#pragma once

#include "renderer/multi_view_renderer.h"

namespace plenoview {

// MultiViewRenderer::cropAndOrientViews(viewGrid): reads calib, viewSize.
// Crops every view of viewGrid to multiples of 8 (cropRectangle, clamped to
// the view) and turns it 90 degrees counter-clockwise when |rotation| >
// 0.7853981625 (pi / 4 cut short, so that a grid turned by exactly that much
// is not turned back).
//
// MultiViewRenderer::cropAndOrientView(view, turned): the same for one view:
// `view` becomes the cropped region of itself, or, turned, `turned` (made, or
// reused when its size and type fit).

}  // namespace plenoview
