#pragma once

#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

namespace plenoview {

// A lens that no candidate wins in a frame keeps the patch size of the frame
// before. A run that starts in the middle of a sequence (a chunk on another
// machine, or a rerun after --resume skipped frames) would give such lenses
// their initial size instead. The warm-up replays the estimation of the frame
// before, so that patchSize holds what one long run would hold there.
//
// Loads `frame` (loadRawImage), prepares it and estimates the patch sizes on
// the centre view, exactly as processFrame does, and stops there:
// nothing is rendered, shown or saved, and the estimation's window lines are
// dropped, since the long run printed them when it processed that frame (the
// renderer's own sink is back when this returns). Writes rawImage, rawBorder,
// the scale levels, patchSize and the centre views of multiViewImage, which
// the next processFrame rebuilds.
void warmUpPatchSizes(MultiViewRenderer& renderer, const cv::Mat& frame);

}  // namespace plenoview
