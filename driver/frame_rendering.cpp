#include "driver/frame_rendering.h"

#include "driver/warm_up.h"
#include "renderer/multi_view_renderer.h"
#include "windows/show_inspection.h"

#include <utility>

namespace plenoview {

FrameRendering renderingBy(MultiViewRenderer& renderer) {
  FrameRendering rendering;
  rendering.render = [&renderer](cv::Mat frame, const ViewGroupSink& finished) {
    renderer.processFrame(std::move(frame), finished);
  };
  rendering.warmUp = [&renderer](const cv::Mat& frame) { warmUpPatchSizes(renderer, frame); };
  rendering.inspect = [&renderer] { showInspection(renderer); };
  return rendering;
}

}  // namespace plenoview
