#include "pipeline/frame_pipeline.h"

#include "pipeline/align_lens_types.h"
#include "pipeline/blend_lens_types.h"
#include "pipeline/build_patch_map.h"
#include "pipeline/crop_and_orient_views.h"
#include "pipeline/estimate_patch_sizes.h"
#include "pipeline/load_raw_image.h"
#include "pipeline/prepare_raw_image.h"
#include "pipeline/render_multi_view_image.h"

#include <utility>
#include <vector>

namespace plenoview {

FramePipeline::FramePipeline(MultiViewRenderer& renderer) : renderer_(renderer) {
  const int N = renderer_.viewNum;
  for (ViewGrid& grid : images_.multiViewImage) grid.assign(N, std::vector<cv::Mat>(N));
}

void FramePipeline::stepDone(const char* step) const {
  if (renderer_.options.stepDone) renderer_.options.stepDone(step);
}

void FramePipeline::beginFrame(cv::Mat frame, const PatchSizes* givenSizes, const LineSink& lines) {
  renderer_.loadRawImage(std::move(frame), images_);
  stepDone("rotate");
  renderer_.prepareRawImage(images_);
  stepDone("prepareRawImage");
  if (givenSizes != nullptr) {
    renderer_.usePatchSizes(*givenSizes);
  } else {
    renderer_.estimatePatchSizes(images_, lines);
  }
  stepDone("estimatePatchSizes");
}

void FramePipeline::processFrame(cv::Mat frame, ViewGrid& viewGrid, const PatchSizes* givenSizes) {
  const LineSink& lines = renderer_.options.outOfRangeLines;
  beginFrame(std::move(frame), givenSizes, lines);
  renderer_.buildPatchMap(images_, lines);
  stepDone("buildPatchMap");
  renderer_.renderMultiViewImage(images_, lines);
  stepDone("renderMultiViewImage");
  renderer_.alignLensTypes(images_);
  stepDone("alignLensTypes");
  renderer_.blendLensTypes(images_, viewGrid);
  stepDone("blendLensTypes");
  renderer_.cropAndOrientViews(viewGrid);
  stepDone("cropAndOrientViews");
}

void FramePipeline::processFrame(cv::Mat frame, const ViewGroupSink& finished,
                                 const PatchSizes* givenSizes) {
  const LineSink& lines = renderer_.options.outOfRangeLines;
  beginFrame(std::move(frame), givenSizes, lines);
  renderer_.buildPatchMap(images_, lines);
  stepDone("buildPatchMap");
  streamed_.render(renderer_, images_, finished);
}

void FramePipeline::estimatePatchSizesOnly(cv::Mat frame) {
  // Not a step of a frame the run processes: no steps are reported.
  renderer_.loadRawImage(std::move(frame), images_);
  renderer_.prepareRawImage(images_);
  renderer_.estimatePatchSizes(images_, LineSink());
}

void FramePipeline::renderLensTypeViews(cv::Mat frame, const PatchSizes& sizes) {
  const LineSink& lines = renderer_.options.outOfRangeLines;
  beginFrame(std::move(frame), &sizes, lines);
  renderer_.renderMultiViewImage(images_, lines);
}

}  // namespace plenoview
