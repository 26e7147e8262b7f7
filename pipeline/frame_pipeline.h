#pragma once

#include "pipeline/streamed_views.h"
#include "renderer/frame_images.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/view_grid.h"

#include <opencv2/core.hpp>

namespace plenoview {

// The per-frame pipeline: runs the renderer's stages in order on one raw
// frame after another, holding the frame's images (FrameImages) and the
// streamed rendering's groups. The one place that changes the renderer's
// state (its patch sizes), through the stages. Window lines go to the
// renderer's options.outOfRangeLines, and options.stepDone is called after
// each step ("rotate", then the stage names).
//
// Every way of processing a frame begins the same: loadRawImage,
// prepareRawImage, then estimatePatchSizes, or usePatchSizes when
// `givenSizes` is not null (the estimation and its window lines are then
// skipped), then buildPatchMap. The frame must not be empty; its handle is
// let go once the renderer has its own turned copy.
class FramePipeline {
 public:
  // The renderer must outlive the pipeline.
  explicit FramePipeline(MultiViewRenderer& renderer);

  // Turns the frame into the N x N views of `viewGrid`: renderMultiViewImage,
  // alignLensTypes, blendLensTypes, cropAndOrientViews. Keeps every lens-type
  // view in images().multiViewImage, for callers that read them all; the
  // reference of the streamed way below.
  void processFrame(cv::Mat frame, ViewGrid& viewGrid, const PatchSizes* givenSizes = nullptr);

  // The same views with the same bytes, streamed (StreamedViews): handed to
  // `finished` a group at a time. Only the centre views stay in
  // images().multiViewImage afterwards.
  void processFrame(cv::Mat frame, const ViewGroupSink& finished,
                    const PatchSizes* givenSizes = nullptr);

  // The estimation alone, for the warm-up that replays the frame before the
  // first one a run processes: loads, prepares and estimates, renders
  // nothing, and drops the estimation's window lines (the run that processed
  // that frame printed them).
  void estimatePatchSizesOnly(cv::Mat frame);

  // Every lens-type view of `frame` with every lens at its size in `sizes`,
  // into images().multiViewImage, before the alignment (the quality tool
  // measures them against the scene).
  void renderLensTypeViews(cv::Mat frame, const PatchSizes& sizes);

  const MultiViewRenderer& renderer() const { return renderer_; }
  // The images of the last frame: the inspection shows them.
  const FrameImages& images() const { return images_; }

 private:
  void beginFrame(cv::Mat frame, const PatchSizes* givenSizes, const LineSink& lines);
  void stepDone(const char* step) const;

  MultiViewRenderer& renderer_;
  FrameImages images_;      // per frame
  StreamedViews streamed_;  // per group, carried from frame to frame
};

}  // namespace plenoview
