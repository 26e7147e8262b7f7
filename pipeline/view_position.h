#pragma once

#include "renderer/multi_view_renderer.h"

namespace plenoview {

// MultiViewRenderer::viewPosition: where a window of `maskSize` centred on
// lens (type, row, column) lands in view coordinates. The lens centre
// (lensCentre) is moved by view `view`'s shift (view - centerView) and the
// frame's `rawBorder`, each added on its own, left to right (the estimation
// and the rendering); without a view both are left out (the patch map). The
// lens grid is then shrunk by q = (radius - lensMargin) / diameter about the
// type's even-row reference lens R:
//
//   left = (Px - R.x) x q + R.x - maskSize.width x 0.5    (top likewise)
//
// rounded to nearest, ties to even.

}  // namespace plenoview
