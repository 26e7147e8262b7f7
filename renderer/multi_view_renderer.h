#pragma once

#include "base/line_sink.h"
#include "calibration/lens_calibration.h"
#include "renderer/scale_level_windows.h"
#include "renderer/view_grid.h"

#include <opencv2/core.hpp>

#include <functional>
#include <string>
#include <vector>

namespace plenoview {

// What a run asks of the renderer beyond the calibration and N: how the scale
// levels are held, a hook for timing the steps, and where the window lines go.
// Default-constructed: levels on demand, no hook, window lines dropped.
struct RendererOptions {
  // How the stages read the scale levels. false: every window is computed
  // from rawImage when it is cut (scaleLevelWindows), with the same bytes as
  // the whole level; true (--all-scale-levels): prepareRawImage builds every
  // level whole in scaledRawImage, some 190 (diameter 23) to 500 (diameter
  // 37) times the frame's memory, and the views are rendered one lens after
  // another on one thread. The latter is the reference the former is checked
  // against.
  bool buildAllScaleLevels = false;

  // When set, processFrame calls it after each of its steps with the step's
  // name: "rotate" (the copy and the rotation), then the stage names from
  // "prepareRawImage" to "cropAndOrientViews". A benchmark times them so.
  std::function<void(const char* step)> stepDone;

  // Receives the "Out of Roi Range" line of every window that leaves its
  // image (see checkRoiRange), in the order one thread would meet them, also
  // when the work runs in parallel.
  LineSink outOfRangeLines;
};

// Carries the rendering state through a run. Set up once from the calibration
// and the number of views per side; every stage below is a member operation
// that reads and writes the members directly. The renderer neither prints nor
// opens windows: its lines go to options.outOfRangeLines, and the driver shows
// what it has.
//
// Coordinates follow OpenCV: x is the column, y the row, pixel (0, 0) centred
// at (0, 0). A view (x, y) samples the raw frame shifted by
// (x - centerView.x, y - centerView.y) pixels.
class MultiViewRenderer {
 public:
  // Copies `calib` and builds the masks, candidate sizes, per-type patch-size
  // tables, view size and empty view grids. Expects viewNum >= 1 and
  // calib.diameter >= 5 (the driver checks).
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
  // Per type: num.y x num.x, 8-bit, the patch size chosen for each lens. All 1
  // at set-up; a lens that no candidate wins in a frame keeps its size from
  // the frame before.
  cv::Mat patchSize[3];

  // ---- Per-frame scratch, rebuilt by every frame ----
  cv::Mat rawImage;   // the frame, rotated back, then padded by rawBorder
  int rawBorder = 0;  // black border around rawImage: centerView.x
  // The scale levels: level i holds rawImage scaled by lensMask width / (patch
  // size of level i). Without options.buildAllScaleLevels (the normal run)
  // every window of them is computed when it is cut:
  ScaleLevelWindows scaleLevelWindows;
  // With it, they are built whole: [0][level] grey, [1][level] colour (colour
  // frames only). Empty otherwise.
  std::vector<std::vector<cv::Mat>> scaledRawImage;
  cv::Mat patchMap[3];         // per type: viewSize, 8-bit patch size per pixel
  cv::Mat patchMapVis[3];      // per type: grey picture of patchMap (inspection)
  ViewGrid multiViewImage[3];  // [lens type][view x][view y]
  // The streamed rendering's own images, kept from frame to frame so that
  // their memory is reused: per type the centre view's other image (grey for
  // the estimation, colour for the rendering, swapped in turn), the lens-type
  // views of one group, and kGroupSets groups' blended and turned views, used
  // in turn.
  cv::Mat spareCentreViews[3];
  std::vector<cv::Mat> groupViews[3];
  std::vector<cv::Mat> groupBlended;
  std::vector<cv::Mat> groupTurned;
  // Which set the next group takes. Carried from frame to frame: a frame's
  // first groups must not take the sets of the frame before's last groups,
  // whose views may still be being written.
  int groupSet = 0;

  // ---- Per-frame pipeline ----
  // Each stage names the members it reads and writes. "The scale levels" are
  // scaleLevelWindows, or scaledRawImage with options.buildAllScaleLevels;
  // both give the same bytes. Window lines go to options.outOfRangeLines.

  // Turns one raw frame into the N x N views of `viewGrid`, calling the
  // stages below in order: loadRawImage, prepareRawImage, estimatePatchSizes,
  // buildPatchMap, renderMultiViewImage, alignLensTypes, blendLensTypes,
  // cropAndOrientViews (and options.stepDone after each). The frame must not
  // be empty.
  // Keeps every lens-type view in multiViewImage, for callers that read
  // them all; the reference of the streamed path below.
  void processFrame(cv::Mat frame, ViewGrid& viewGrid);

  // The same views with the same bytes, streamed: after the estimation and
  // the patch map, the centre views of the three types are rendered and the
  // alignment's shift measured on them; then the views go through rendering,
  // shift, blending, crop and turn a group at a time (runs of at most
  // kViewsPerGroup views of one grid row, y outer, x inner) and each group is
  // handed to `finished` before the next is rendered. A frame so holds the
  // three centre views and a few groups' images, whatever N. Only the centre
  // views stay in multiViewImage afterwards. The window lines are those of
  // processFrame, in the same order; options.stepDone sees the rendering's
  // steps once for the centre views and again for every group.
  void processFrame(cv::Mat frame, const ViewGroupSink& finished);

  // Reads calib, centerView. Writes rawImage: a deep copy of the frame brought
  // to 8 bits with one or three channels (toEightBitFrame), turned by
  // -calib.rotation about calib.center (bilinear, same size, 0 where it comes
  // from outside). rawImage is made as the middle of a black image larger by
  // centerView.x on every side, which prepareRawImage then takes whole
  // instead of copying. The handle on `frame` is let go before returning.
  // Also used alone to replay the estimation of a frame without rendering it.
  void loadRawImage(cv::Mat frame);

  // Reads rawImage, centerView, lensMask, candidatePatchSizes, lensMargin,
  // patchSizeStep. Writes rawBorder = centerView.x, pads rawImage by it, and
  // prepares the scale levels: one per candidate plus 2 x lensMargin more.
  void prepareRawImage();

  // Chooses per lens the candidate with the lowest rim-Laplacian score on the
  // centre view. Reads the scale levels, calib, lensMask, lensEdgeMask,
  // candidatePatchSizes, rawBorder, centerView. Writes patchSize (entries no
  // candidate wins keep their value) and leaves multiViewImage[t] of the
  // centre view holding the last candidate's rendering. Each candidate is
  // rendered once for all three types (renderViewAtSize); the window lines of
  // the renderings come first, then those of the scoring in the order type,
  // candidate, lens row, lens.
  void estimatePatchSizes();

  // Reads patchSize, calib, lensMask, viewSize. Writes patchMap[t] (viewSize,
  // 8-bit): each lens's patch size painted as a lensMask disc, placed without
  // view shift and border.
  void buildPatchMap();

  // Renders every view of every type: colour for colour frames, each lens at
  // its own patch size. Reads the scale levels, patchSize, calib, lensMask,
  // rawBorder, centerView, viewSize. Writes multiViewImage (all views).
  // Loops: type, view y, view x, lens row, lens column. Each lens's patch
  // (size + 2 x lensMargin, cut from that size's level) is merged with
  // mergePatch at viewPosition(lensMask.size(), ...); a source window outside
  // its level gives a white patch, a destination outside the view skips the
  // lens. A size without a level is taken as the nearest size that has one.
  void renderMultiViewImage();

  // The estimation's rendering: as renderMultiViewImage, but only view `view`
  // of each type, grey, every lens at `size`. Writes
  // multiViewImage[t][view.x][view.y] only; a view outside the N x N grid
  // renders nothing.
  void renderViewAtSize(cv::Point view, int size);

  // renderMultiViewImage for `views` only (y outer, x inner); their window
  // lines are dropped (see reportRenderingLines).
  void renderViewGroup(const std::vector<cv::Point>& views);

  // Passes to options.outOfRangeLines the window lines renderMultiViewImage
  // would pass, in its order, without rendering: they depend on the geometry
  // and patchSize alone.
  void reportRenderingLines();

  // Reads calib and the centre views of the left and middle types. Finds the
  // horizontal shift between those two views and shifts every left-type view
  // right and every right-type view left by it (multiViewImage, in place).
  // Shifts 1 .. trunc(diameter) - 1 are tried; the one with the fewest
  // differing pixels wins, the smaller on ties. When none differs in fewer
  // pixels than the view has, nothing is shifted. The compared region is
  // clamped to the view.
  void alignLensTypes();

  // alignLensTypes in two halves: the shift, measured on the centre views,
  // and the shift applied to the left- and right-type views of `view`.
  int measureTypeShift() const;
  void shiftLensTypes(cv::Point view, int typeShift);

  // Reads multiViewImage, patchMap, candidatePatchSizes, calib, rawImage's
  // type, viewSize. Fills viewGrid (resized to N x N, views of viewSize and
  // rawImage's type) with the Gaussian-weighted sum of the three types,
  // weights chosen by the middle type's patchMap.
  void blendLensTypes(ViewGrid& viewGrid);

  // Reads calib, viewSize. Crops every view of viewGrid to multiples of 8
  // (cropRectangle, clamped to the view) and turns it 90 degrees
  // counter-clockwise when |rotation| > 0.7853981625.
  void cropAndOrientViews(ViewGrid& viewGrid);

  // The same for one view: `view` becomes the cropped region of itself, or,
  // turned, `turned` (made, or reused when its size and type fit).
  void cropAndOrientView(cv::Mat& view, cv::Mat& turned) const;

  // ---- Pictures of a frame ----

  // Reads patchMap, candidatePatchSizes. Writes patchMapVis[t] = 255 - 255 x
  // patchMap[t] / (largest candidate), rounded and saturated; an empty
  // patchMap[t] gives an empty picture.
  void visualizePatchMap();

  // ---- Geometry shared by the stages ----

  // Where a window of `maskSize` centred on lens `column` of lens row `row` of
  // lens type `lensType` lands in view coordinates: the lens grid shrunk by
  // (radius - lensMargin) / diameter about the type's even-row reference lens.
  // With `shifted`, view `view`'s shift and rawBorder are added to the lens
  // position first (estimation and rendering); without, both are left out
  // (patch map). Corners are rounded to nearest, ties to even.
  cv::Rect viewPosition(cv::Size maskSize, int lensType, int row, int column, cv::Point view,
                        bool shifted) const;
};

}  // namespace plenoview
