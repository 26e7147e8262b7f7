#pragma once

#include "base/line_sink.h"
#include "calibration/lens_calibration.h"
#include "renderer/frame_images.h"
#include "renderer/view_grid.h"

#include <opencv2/core.hpp>

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace plenoview {

struct ScoredPixels;

// Per lens type: lens rows x lenses of that type per row (num.y x num.x),
// 8-bit, one patch size per lens.
using PatchSizes = std::array<cv::Mat, kLensTypes>;

// What a run asks of the renderer beyond the calibration and N: how the scale
// levels are held, a hook for timing the steps, and where the window lines go.
// Default-constructed: levels on demand, no hook, window lines dropped.
struct RendererOptions {
  // How the stages read the scale levels. false: every window is computed
  // from rawImage when it is cut (FrameImages::scaleLevelWindows), with the
  // same bytes as the whole level; true (--all-scale-levels): prepareRawImage
  // builds every level whole in FrameImages::scaledRawImage, some 190
  // (diameter 23) to 500 (diameter 37) times the frame's memory, and the views
  // are rendered one lens after another on one thread. The latter is the
  // reference the former is checked against.
  bool buildAllScaleLevels = false;

  // When set, the pipeline calls it after each of its steps with the step's
  // name: "rotate" (loadRawImage), then the stage names from
  // "prepareRawImage" to "cropAndOrientViews". A benchmark times them so.
  std::function<void(const char* step)> stepDone;

  // Receives the "Out of Roi Range" line of every window that leaves its
  // image (see checkRoiRange), in the order one thread would meet them, also
  // when the work runs in parallel.
  LineSink outOfRangeLines;
};

// The rendering state of a run: the geometry set up once from the calibration
// and the number of views per side, and the patch sizes carried from frame to
// frame. Its member operations are the pipeline's stages, each defined in
// pipeline/ in the file named after it, whose header states what the stage
// reads and writes; the images of a frame are a FrameImages the stages are
// handed. The pipeline (pipeline/frame_pipeline.h) runs them in order and is
// the only code that changes this state. The renderer neither prints nor
// opens windows: its lines go to the sink a stage is handed.
//
// Coordinates follow OpenCV: x is the column, y the row, pixel (0, 0) centred
// at (0, 0). A view (x, y) samples the raw frame shifted by
// (x - centerView.x, y - centerView.y) pixels. A lens is named by its type,
// its lens row (from the top) and its column (among the lenses of its type in
// that row).
class MultiViewRenderer {
 public:
  // Copies `calib` and builds the masks, candidate sizes, per-type patch-size
  // tables and view size. Expects viewNum >= 1 and calib.diameter >= 6, which
  // setUpRenderer (renderer/set_up_renderer.h) and the calibration reader
  // make sure of.
  MultiViewRenderer(LensCalibration calib, int viewNum, RendererOptions options = {});
  MultiViewRenderer(const MultiViewRenderer&) = delete;
  MultiViewRenderer& operator=(const MultiViewRenderer&) = delete;

  // ---- Set once, at set-up ----
  RendererOptions options;
  LensCalibration calib;
  int viewNum = 0;                       // N
  cv::Point centerView{0, 0};            // (N / 2, N / 2)
  int lensMargin = 0;                    // 1: pixels between a patch and the micro-image rim
  int patchSizeStep = 0;                 // 1: step between candidate sizes and scale levels
  cv::Mat lensMask;                      // D x D, 255 on the micro-image disc, 0 outside
  cv::Mat lensEdgeMask;                  // (D + 2) x (D + 2), 255 on both sides of the rim
  std::vector<int> candidatePatchSizes;  // 3, 4, ..., (int)(diameter - 2)
  cv::Size viewSize{0, 0};               // every rendered view, before the crop

  // ---- Carried from frame to frame ----
  // The patch size chosen for each lens. All 1 at set-up; a lens that no
  // candidate wins in a frame keeps its size from the frame before.
  PatchSizes patchSize;
  // The rim pixels of the centre view, where the estimation's scores read
  // its Laplacian: fixed by the geometry, found by the first estimation
  // (pipeline/scored_pixels.h).
  std::shared_ptr<const ScoredPixels> scoredPixels;

  // ---- The stages, in the order the pipeline runs them ----
  // pipeline/load_raw_image.h
  void loadRawImage(cv::Mat frame, FrameImages& images) const;
  // pipeline/prepare_raw_image.h
  void prepareRawImage(FrameImages& images) const;
  // pipeline/estimate_patch_sizes.h; usePatchSizes instead when the sizes
  // are given.
  void estimatePatchSizes(const FrameImages& images, const LineSink& lines);
  void usePatchSizes(const PatchSizes& sizes);
  // pipeline/build_patch_map.h
  void buildPatchMap(FrameImages& images, const LineSink& lines) const;
  // pipeline/render_multi_view_image.h
  void renderMultiViewImage(FrameImages& images, const LineSink& lines) const;
  void renderViews(const FrameImages& images, const std::vector<cv::Point>& views,
                   std::vector<cv::Mat> (&typeViews)[kLensTypes]) const;
  void renderTypeViewAtSize(const FrameImages& images, int type, cv::Point view, int size,
                            cv::Mat& typeView, const LineSink& lines) const;
  void reportRenderingLines(const FrameImages& images, const LineSink& lines) const;
  // pipeline/align_lens_types.h
  void alignLensTypes(FrameImages& images) const;
  int measureTypeShift(const FrameImages& images) const;
  void shiftLensTypes(const std::array<cv::Mat*, kLensTypes>& typeViews, int typeShift) const;
  // pipeline/blend_lens_types.h
  void blendLensTypes(const FrameImages& images, ViewGrid& viewGrid) const;
  // pipeline/crop_and_orient_views.h
  void cropAndOrientViews(ViewGrid& viewGrid) const;
  void cropAndOrientView(cv::Mat& view, cv::Mat& turned) const;

  // ---- Geometry shared by the stages (pipeline/view_position.h) ----
  cv::Rect viewPosition(cv::Size maskSize, int type, int row, int column) const;
  cv::Rect viewPosition(cv::Size maskSize, int type, int row, int column, cv::Point view,
                        int rawBorder) const;
};

}  // namespace plenoview
