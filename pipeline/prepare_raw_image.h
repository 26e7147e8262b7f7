#pragma once

#include "renderer/multi_view_renderer.h"

namespace plenoview {

// MultiViewRenderer::prepareRawImage(images): reads images.rawImage,
// centerView, lensMask, candidatePatchSizes, lensMargin, patchSizeStep.
// Writes images.rawBorder = centerView.x, pads images.rawImage by it (black),
// and prepares the scale levels, one per entry of scaleLevelPatchSizes: the
// level of size s scales the padded frame by float(lensMask width) / float(s)
// (scaleLevelSize). Normally only the axis tables of every level are made
// (images.scaleLevelWindows), and each window is computed when it is cut;
// with options.buildAllScaleLevels every level is built whole with
// cv::resize (INTER_LINEAR) into images.scaledRawImage, and for a colour
// frame its grey form with COLOR_RGB2GRAY. The frames come as B, G, R, so
// that conversion weighs blue with red's weight and the other way round: the
// views must match the defined output byte for byte, and that is its grey.

}  // namespace plenoview
