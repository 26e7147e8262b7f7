#pragma once

#include "pipeline/frame_pipeline.h"

#include <opencv2/core.hpp>

namespace plenoview {

// A lens that no candidate wins in a frame keeps the patch size of the frame
// before. A run that starts in the middle of a sequence (a chunk on another
// machine, or a rerun after --resume skipped frames) would give such lenses
// their initial size instead. The warm-up replays the estimation of the frame
// before (FramePipeline::estimatePatchSizesOnly), so that the patch sizes
// are what one long run would hold there: nothing is rendered, shown or
// saved, and the estimation's window lines are dropped, since the long run
// printed them when it processed that frame.
void warmUpPatchSizes(FramePipeline& pipeline, const cv::Mat& frame);

}  // namespace plenoview
