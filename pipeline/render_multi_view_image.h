#pragma once

#include "renderer/multi_view_renderer.h"

namespace plenoview {

// MultiViewRenderer::renderMultiViewImage(images, lines): renders every view
// of every type: colour for colour frames, each lens at its own patch size.
// Reads the scale levels and rawBorder of `images`, patchSize, calib,
// lensMask, centerView, viewSize. Writes images.multiViewImage (N x N views
// of each type, sized here). Loops: type, view y, view x, lens row, lens
// column. Each lens's patch (size + 2 x lensMargin, cut from that size's
// level) is merged with mergePatch at viewPosition; a source window outside
// its level gives a white patch, a destination outside the view skips the
// lens. A size without a level is taken as the nearest size that has one.
//
// MultiViewRenderer::renderViews(images, views, typeViews): the same for
// `views` only (y outer, x inner), into typeViews[type][i] for views[i]
// (the vectors grown to at least views.size() here, their images reused where
// they fit); the window lines are dropped (see reportRenderingLines).
//
// MultiViewRenderer::renderTypeViewAtSize(images, type, view, size, typeView,
// lines): the estimation's rendering: view `view` of lens type `type` into
// typeView, grey, every lens at `size`, on the calling thread (so that many
// can run side by side). A view outside the N x N grid renders nothing.
//
// MultiViewRenderer::reportRenderingLines(images, lines): passes to `lines`
// the window lines renderMultiViewImage would pass, in its order, without
// rendering: they depend on the geometry and patchSize alone.

}  // namespace plenoview
