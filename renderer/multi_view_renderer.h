#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/scale_level_windows.h"

#include <opencv2/core.hpp>

#include <functional>
#include <string>
#include <vector>

namespace plenoview {

// N x N images indexed [view x][view y].
using ViewGrid = std::vector<std::vector<cv::Mat>>;

// Carries the rendering state through a run. Set up once from the calibration
// and the number of views per side; every stage below is a member operation
// that reads and writes the members directly.
//
// Coordinates follow OpenCV: x is the column, y the row, pixel (0, 0) centred
// at (0, 0). A view (x, y) samples the raw frame shifted by
// (x - centerView.x, y - centerView.y) pixels.
class MultiViewRenderer {
 public:
  // Copies `calib`, prints its grid report on std::cout, builds the masks,
  // candidate sizes, per-type patch-size tables, view size and empty view
  // grids. Expects viewNum >= 1 and calib.diameter >= 5 (the driver checks).
  MultiViewRenderer(LensCalibration calib, int viewNum);
  MultiViewRenderer(const MultiViewRenderer&) = delete;
  MultiViewRenderer& operator=(const MultiViewRenderer&) = delete;

  // ---- State, in set-up order ----
  LensCalibration calib;
  int viewNum = 0;             // N
  int lensMargin = 0;          // 1: pixels between a patch and the micro-image rim
  int patchSizeStep = 0;       // 1: step between candidate sizes and scale levels
  int rawBorder = 0;           // black border around rawImage, set per frame
  cv::Point centerView{0, 0};  // (N / 2, N / 2)
  cv::Mat rawImage;            // current frame, rotated back and padded
  cv::Mat lensMask;            // D x D, 255 on the micro-image disc, 0 outside
  cv::Mat lensEdgeMask;        // (D + 2) x (D + 2), 255 on both sides of the rim
  cv::Mat patchSize[3];        // per type: num.y x num.x, 8-bit chosen patch sizes
  cv::Mat patchMap[3];         // per type: viewSize, 8-bit patch size per pixel
  cv::Mat patchMapVis[3];      // per type: grey rendering of patchMap
  cv::Size viewSize{0, 0};
  std::vector<int> candidatePatchSizes;  // 3, 4, ..., (int)(diameter - 2)
  // [0][level]: grey, [1][level]: colour (colour frames only). Level i holds
  // rawImage scaled by lensMask width / (patch size of level i). Built only
  // with buildAllScaleLevels; empty otherwise.
  std::vector<std::vector<cv::Mat>> scaledRawImage;
  // How the stages read the scale levels. false (the default): every window
  // is computed from rawImage when it is cut (scaleLevelWindows), with the
  // same bytes; true: prepareRawImage builds every level in scaledRawImage,
  // some 190 (diameter 23) to 500 (diameter 37) times the frame's memory,
  // and the views are rendered one lens after another on one thread. The
  // latter is the reference the former is checked against.
  bool buildAllScaleLevels = false;
  // The levels of the current frame, window by window (without
  // buildAllScaleLevels).
  ScaleLevelWindows scaleLevelWindows;
  // When set, processFrame calls it after each of its steps with the step's
  // name: "rotate" (the copy and the rotation), then the stage names from
  // "prepareRawImage" to "cropAndOrientViews". A benchmark times them so.
  std::function<void(const char* step)> stepDone;
  ViewGrid multiViewImage[3];  // [lens type][view x][view y]

  // ---- Per-frame pipeline ----

  // Turns one raw frame into the N x N views of `viewGrid`: rotation,
  // preparation, estimation, patch map, rendering, alignment, blending, crop.
  // The frame is first brought to 8 bits with one or three channels
  // (toEightBitFrame); it must not be empty. Rotation: rawImage is the frame
  // turned by -calib.rotation about calib.center (bilinear, same size, 0
  // where it comes from outside). Ends with a 1 ms key poll; 'v' opens the
  // inspection until 'v' is pressed again.
  void processFrame(cv::Mat frame, ViewGrid& viewGrid);

  // processFrame's first step, also used to replay the estimation of a frame
  // without rendering it: rawImage = a deep copy of the frame as 8 bits with
  // one or three channels, turned back by calib.rotation about calib.center.
  // rawImage is made as the middle of a black image larger by centerView.x on
  // every side, which prepareRawImage then takes whole instead of copying.
  // The handle on `frame` is let go before returning.
  void loadRawImage(cv::Mat frame);

  // Reads rawImage, centerView, lensMask, candidatePatchSizes.
  // Writes rawBorder = centerView.x, pads rawImage by it and prepares one
  // level per candidate plus 2 x lensMargin levels: in scaleLevelWindows, or
  // built whole in scaledRawImage with buildAllScaleLevels.
  void prepareRawImage();

  // Chooses per lens the candidate with the lowest rim-Laplacian score on the
  // view `view`. Reads scaledRawImage, lensEdgeMask, candidatePatchSizes.
  // Writes patchSize (entries no candidate wins keep their value) and leaves
  // multiViewImage[t][view.x][view.y] holding the last candidate's rendering.
  // Each candidate is rendered once for all three types; its window messages
  // then follow in the order type, candidate, lens row, lens.
  void estimatePatchSizes(cv::Point view);

  // Paints each lens's patch size as a lensMask disc into patchMap[t]
  // (viewSize, 8-bit), placed without view shift and border.
  void buildPatchMap();

  // Renders views into multiViewImage. Full mode (fixedSize false, singleView
  // false, viewPos (0, 0)): all views of all types, colour for colour frames,
  // each lens at its own patchSize. Estimation mode (both true): only the view
  // at viewPos, grey, every lens at givenSize. viewPos is advanced past the
  // last view rendered: (x + 1, y + 1) in single-view mode, (N, N) otherwise.
  // Reads scaledRawImage, lensMask, calib, rawBorder, centerView, patchSize.
  // Loops: type, view y, view x, lens row, lens column. Each lens's patch
  // (size + 2 x lensMargin, cut from that size's level) is merged with
  // mergePatch at viewPosition(lensMask.size(), ...); a source window outside
  // its level gives a white patch, a destination outside the view skips the
  // lens. A size without a level is taken as the nearest size that has one.
  void renderMultiViewImage(bool fixedSize, bool singleView, int givenSize, cv::Point& viewPos);

  // Finds the horizontal shift between the left and middle types' centre views
  // and shifts every left-type view right and every right-type view left by it.
  // Shifts 1 .. trunc(diameter) - 1 are tried; the one with the fewest
  // differing pixels wins, the smaller on ties. When none differs in fewer
  // pixels than the view has, nothing is shifted. The compared region is
  // clamped to the view.
  void alignLensTypes();

  // Fills viewGrid (resized to N x N, views of viewSize and rawImage's type)
  // with the Gaussian-weighted sum of the three types, weights chosen by the
  // middle type's patchMap.
  void blendLensTypes(ViewGrid& viewGrid);

  // Crops every view to multiples of 8 (cropRectangle, clamped to the view)
  // and turns it 90 degrees counter-clockwise when |rotation| > 0.7853981625.
  void cropAndOrientViews(ViewGrid& viewGrid);

  // ---- Inspection ----

  // Shows rawImage, the calibration overlay, the patch map and the type-0
  // centre view until the key 'v' is read.
  void showInspection();

  // patchMapVis[t] = 255 - 255 x patchMap[t] / (largest candidate), rounded and
  // saturated; shows patchMapVis[0] in "patchMapVisualization".
  void visualizePatchMap();

  // ---- Helpers shared by the stages ----

  // Draws the filled micro-image disc into `mask`, an all-zero square 8-bit
  // image: centre (w/2, h/2), radius w/2, 4 fractional bits.
  void drawLensMask(cv::Mat& mask) const;

  // Where a window of `maskSize` centred on lens `column` of lens row `row` of
  // lens type `lensType` lands in view coordinates: the lens grid shrunk by
  // (radius - lensMargin) / diameter about the type's even-row reference lens.
  // With `shifted`, view `view`'s shift and rawBorder are added to the lens
  // position first (estimation and rendering); without, both are left out
  // (patch map). Corners are rounded to nearest, ties to even.
  cv::Rect viewPosition(cv::Size maskSize, int lensType, int row, int column, cv::Point view,
                        bool shifted) const;
};

// True when `window` lies wholly inside `image` (touching the right or bottom
// edge counts as inside). Otherwise prints
// "Out of Roi Range: (W,H) -> [w x h from (x, y)]" on std::cout and returns
// false; while a RoiMessageCapture lives on the calling thread, the line goes
// to it instead.
bool checkRoiRange(const cv::Mat& image, const cv::Rect& window);
// The same test against an image of `imageSize` (only its size is read).
bool checkRoiRange(cv::Size imageSize, const cv::Rect& window);

// While it lives, checkRoiRange on this thread appends its lines to `sink`
// instead of printing them, so that work run in parallel can print them
// later in its sequential order.
class RoiMessageCapture {
 public:
  explicit RoiMessageCapture(std::string& sink);
  ~RoiMessageCapture();
  RoiMessageCapture(const RoiMessageCapture&) = delete;
  RoiMessageCapture& operator=(const RoiMessageCapture&) = delete;

 private:
  std::string* previous_;
};

// Writes lines that checkRoiRange captured: to this thread's capture when one
// is active, else on std::cout (flushed).
void writeRoiMessages(const std::string& text);

// Merges an 8-bit patch (1 or 3 channels; others are ignored) into `target`
// (same size and channels) where `mask` is exactly 255: an empty (0) target
// sample takes the patch value, any other becomes
// trunc((1 - alpha) x patch + alpha x target). Channels are merged one by one.
// A target of another type, or a target or mask smaller than the patch, is
// left unchanged.
void mergePatch(const cv::Mat& patch, cv::Mat& target, const cv::Mat& mask, double alpha);

// Shifts a continuous 8-bit image by whole pixels, byte-wise: vacated bytes
// of a row take the row's first byte (shift right) or last byte (shift left);
// vacated rows repeat the first or last row; a shift of the whole width or
// height or more leaves only that byte or row. source and destination may be
// the same image.
void shiftImage(const cv::Mat& source, cv::Mat& destination, cv::Point shift);

}  // namespace plenoview
