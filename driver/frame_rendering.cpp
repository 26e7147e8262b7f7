#include "driver/frame_rendering.h"

#include "driver/warm_up.h"
#include "windows/show_inspection.h"

#include <utility>

namespace plenoview {

FrameRendering renderingBy(FramePipeline& pipeline) {
  FrameRendering rendering;
  rendering.render = [&pipeline](cv::Mat frame, const PatchSizes* givenSizes,
                                 const ViewGroupSink& finished) {
    pipeline.processFrame(std::move(frame), finished, givenSizes);
  };
  rendering.patchSizes = [&pipeline] {
    PatchSizes copy;
    for (int type = 0; type < kLensTypes; ++type) {
      copy[type] = pipeline.renderer().patchSize[type].clone();
    }
    return copy;
  };
  rendering.warmUp = [&pipeline](const cv::Mat& frame) { warmUpPatchSizes(pipeline, frame); };
  rendering.inspect = [&pipeline] { showInspection(pipeline); };
  return rendering;
}

}  // namespace plenoview
