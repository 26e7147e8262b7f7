#include "driver/frame_rendering.h"

#include "driver/warm_up.h"
#include "windows/show_inspection.h"

#include <utility>

namespace plenoview {

FrameRendering renderingBy(FramePipeline& pipeline) {
  FrameRendering rendering;
  rendering.render = [&pipeline](cv::Mat frame, const ViewGroupSink& finished) {
    pipeline.processFrame(std::move(frame), finished);
  };
  rendering.warmUp = [&pipeline](const cv::Mat& frame) { warmUpPatchSizes(pipeline, frame); };
  rendering.inspect = [&pipeline] { showInspection(pipeline); };
  return rendering;
}

}  // namespace plenoview
