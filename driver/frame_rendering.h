#pragma once

#include "pipeline/frame_pipeline.h"
#include "renderer/view_grid.h"

#include <opencv2/core.hpp>

#include <functional>

namespace plenoview {

// What the frame loop renders with: the driver binds it to its renderer, a
// test to a fake. All must be set.
struct FrameRendering {
  // Renders `frame` and hands its N x N finished views to `finished` a group
  // at a time, in writing order (y outer, x inner). An exception of
  // `finished` ends the rendering and passes through. The frame is handed
  // over: the loop keeps no handle on it.
  // With `givenSizes` every lens takes its patch size from there instead of
  // the estimation.
  std::function<void(cv::Mat frame, const PatchSizes* givenSizes, const ViewGroupSink& finished)>
      render;
  // The patch sizes the frame just rendered was rendered with (a copy).
  std::function<PatchSizes()> patchSizes;
  // Replays the estimation of `frame` (the frame before the next one to
  // render) without rendering, showing or printing anything.
  std::function<void(const cv::Mat& frame)> warmUp;
  // Shows the inspection of the frame just rendered until it is closed.
  std::function<void()> inspect;
};

// `pipeline`'s streamed processFrame, its renderer's patch sizes,
// warmUpPatchSizes and showInspection;
// the pipeline must outlive the result.
FrameRendering renderingBy(FramePipeline& pipeline);

}  // namespace plenoview
