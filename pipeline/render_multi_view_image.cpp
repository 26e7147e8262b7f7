#include "pipeline/check_roi_range.h"
#include "pipeline/half_merge.h"
#include "pipeline/merge_patch.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/parallel_work.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace plenoview {

namespace {

// Lenses whose source regions are held at once while views are rendered
// on demand: bounds that scratch to a few MB on any frame.
constexpr int kLensesPerBand = 512;

// What one rendering call works with, fixed for the call.
struct RenderPlan {
  explicit RenderPlan(const MultiViewRenderer& r) : renderer(r) {}

  const MultiViewRenderer& renderer;
  bool colour = false;  // three-channel views cut from the colour levels
  int viewType = CV_8UC1;
  int w = 0;  // lensMask width and height: every patch's size
  int h = 0;
  double rowPitch = 0.0;
  bool fixedSize = false;
  int givenSize = 0;
  int smallestSize = 0;  // patch sizes of the first and last levels
  int largestSize = 0;
  int levelCount = 0;
  std::vector<cv::Point> views;  // the views to render, y outer, x inner

  // Patch size of lens (t, j) of type L after the margins. Patch sizes map to
  // the levels that frame preparation made, level i standing for
  // candidatePatchSizes[0] + i x patchSizeStep. A size outside them (a
  // patchSize entry or givenSize no candidate produces) is taken as the
  // nearest size that has a level, for its scale as well as its level.
  int patchSizeOf(int L, int t, int j) const {
    const int s = fixedSize ? givenSize : renderer.patchSize[L].at<uchar>(t, j);
    return std::clamp(s + 2 * renderer.lensMargin, smallestSize, largestSize);
  }

  int levelOf(int s) const { return (s - smallestSize) / renderer.patchSizeStep; }

  // The window of lens (t, j) of type L for `view`, in the level of size s:
  // the sample point in the padded raw frame, moved by whole pixels per view
  // step, scaled by k = w / s (single precision, widened).
  cv::Rect sourceWindow(int L, int t, int j, cv::Point view, int s) const {
    const LensCalibration& calib = renderer.calib;
    const double k = static_cast<float>(w) / static_cast<float>(s);
    // Left to right, each int term converted on its own.
    const double px = 3 * calib.diameter * j + calib.subGridRefPos[t % 2][L].x +
                      (view.x - renderer.centerView.x) + renderer.rawBorder;
    const double py = rowPitch * t + calib.subGridRefPos[0][L].y +
                      (view.y - renderer.centerView.y) + renderer.rawBorder;
    return cv::Rect(cvRound(k * px - w * 0.5), cvRound(k * py - h * 0.5), w, h);
  }

  // The destination of lens (t, j) of type L in `view`: the lens grid shrunk
  // by (radius - lensMargin) / diameter about the type's reference lens; the
  // patch keeps its full size, so neighbours overlap.
  cv::Rect destinationWindow(int L, int t, int j, cv::Point view) const {
    return renderer.viewPosition(renderer.lensMask.size(), L, t, j, view, true);
  }
};

// ---------------------------------------------------------------------------
// From levels built whole: one lens after another, a plain rectangle copy
// per patch. The reference for the rendering on demand.

void renderFromBuiltLevels(const RenderPlan& plan, MultiViewRenderer& renderer) {
  const LensCalibration& calib = renderer.calib;
  const LineSink& report = renderer.options.outOfRangeLines;
  const std::vector<cv::Mat>& levels = renderer.scaledRawImage[plan.colour ? 1 : 0];
  cv::Mat patch(plan.h, plan.w, plan.viewType);
  for (int L = 0; L < 3; ++L) {
    for (const cv::Point viewPos : plan.views) {
      cv::Mat& view = renderer.multiViewImage[L][viewPos.x][viewPos.y];
      view = cv::Mat::zeros(renderer.viewSize, plan.viewType);
      if (plan.levelCount == 0) continue;
      for (int t = 0; t < calib.num.y; ++t) {
        for (int j = 0; j < calib.num.x; ++j) {
          const int s = plan.patchSizeOf(L, t, j);
          // A lens whose window leaves its level still shows, as a white
          // disc, so that the hole is visible in the view.
          patch.setTo(cv::Scalar::all(255));
          const cv::Mat& source = levels[plan.levelOf(s)];
          const cv::Rect window = plan.sourceWindow(L, t, j, viewPos, s);
          if (checkRoiRange(source, window, report))
            source(window).copyTo(patch, renderer.lensMask);

          const cv::Rect destination = plan.destinationWindow(L, t, j, viewPos);
          if (!checkRoiRange(view, destination, report)) continue;
          cv::Mat region = view(destination);
          mergePatch(patch, region, renderer.lensMask, 0.5);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// On demand: per lens, the part of its level that the windows of all views
// read is computed once (neighbouring views' windows are a few level pixels
// apart), then every view merges its window from it. Lenses are taken in
// bands of lens rows: first the bands' regions (in parallel over lenses),
// then the merges (in parallel over views, each view's lenses in order).

// The computed part of one lens's level.
struct LensRegion {
  cv::Mat pixels;
  cv::Point origin;  // level coordinates of pixels(0, 0)
};

void computeLensRegion(const RenderPlan& plan, int L, int t, int j,
                       const std::vector<ColumnSpan>& maskSpans, LensRegion& region) {
  const ScaleLevelWindows& levels = plan.renderer.scaleLevelWindows;
  const int s = plan.patchSizeOf(L, t, j);
  const int level = plan.levelOf(s);
  const cv::Rect levelRect(cv::Point(0, 0), levels.levelSize(level));
  cv::Rect bounds;
  for (const cv::Point view : plan.views) {
    const cv::Rect window = plan.sourceWindow(L, t, j, view, s);
    if ((window & levelRect) == window) bounds = bounds.empty() ? window : (bounds | window);
  }
  region.origin = bounds.tl();
  if (bounds.empty()) return;
  // A single view needs only the pixels under the lens mask.
  const bool singleWindow = bounds.size() == cv::Size(plan.w, plan.h);
  levels.computeWindow(level, bounds, !plan.colour, region.pixels,
                       singleWindow ? &maskSpans : nullptr);
}

void mergeLensIntoView(const RenderPlan& plan, int L, int t, int j, cv::Point viewPos,
                       const LensRegion& region, const cv::Mat& insideBytes, cv::Mat& view,
                       const LineSink& report) {
  const int s = plan.patchSizeOf(L, t, j);
  const cv::Rect window = plan.sourceWindow(L, t, j, viewPos, s);
  const bool sourceInside =
      checkRoiRange(plan.renderer.scaleLevelWindows.levelSize(plan.levelOf(s)), window, report);
  const cv::Rect destination = plan.destinationWindow(L, t, j, viewPos);
  if (!checkRoiRange(view, destination, report)) return;

  // The patch is the window where the mask is non-zero and 255 elsewhere
  // (all of it when the window leaves its level); the merge writes only
  // where the mask is 255, so the window's pixels or 255 go straight in.
  const int bytes = plan.w * view.channels();
  for (int r = 0; r < plan.h; ++r) {
    uchar* target = view.ptr<uchar>(destination.y + r) + destination.x * view.channels();
    const uchar* inside = insideBytes.ptr<uchar>(r);
    if (sourceInside) {
      const cv::Point at = window.tl() - region.origin;
      const uchar* patch = region.pixels.ptr<uchar>(at.y + r) + at.x * view.channels();
      mergeHalfRow(patch, target, inside, bytes);
    } else {
      mergeHalfRowConstant(255, target, inside, bytes);
    }
  }
}

void renderOnDemand(const RenderPlan& plan, MultiViewRenderer& renderer) {
  const LensCalibration& calib = renderer.calib;
  const int viewCount = static_cast<int>(plan.views.size());
  const int items = 3 * viewCount;  // (type, view), type outer
  auto viewOf = [&](int item) -> cv::Mat& {
    const cv::Point at = plan.views[item % viewCount];
    return renderer.multiViewImage[item / viewCount][at.x][at.y];
  };
  // Every view starts at zeros, in the pixels it has when their size and
  // type fit. Made on this thread, cleared in parallel: the large images come
  // from one place in memory from frame to frame.
  for (int item = 0; item < items; ++item) viewOf(item).create(renderer.viewSize, plan.viewType);
  parallelForEach(items, [&](int item) { viewOf(item).setTo(cv::Scalar::all(0)); });
  if (plan.levelCount == 0 || calib.num.x <= 0 || calib.num.y <= 0) return;

  const std::vector<ColumnSpan> maskSpans = nonZeroSpans(renderer.lensMask);
  const cv::Mat insideBytes = mergeBytes(renderer.lensMask, CV_MAT_CN(plan.viewType));
  // Each view's window lines, in its lens order; passed on in view order.
  std::vector<HeldLines> viewLines(items);
  // Kept from call to call (the estimation renders once per candidate). The
  // work items reach this thread's vector through the reference.
  thread_local std::vector<LensRegion> keptRegions;
  std::vector<LensRegion>& regions = keptRegions;

  const int bandRows = std::max(1, kLensesPerBand / (3 * calib.num.x));
  for (int t0 = 0; t0 < calib.num.y; t0 += bandRows) {
    const int rows = std::min(bandRows, calib.num.y - t0);
    const int perType = rows * calib.num.x;
    regions.resize(3 * perType);
    // Taken by lens row, then along the row, then by type: the lenses of all
    // three types in a row read the same frame rows while they are cached.
    parallelForEach(3 * perType, [&](int i) {
      const int t = t0 + i / (3 * calib.num.x);
      const int j = i / 3 % calib.num.x;
      const int L = i % 3;
      computeLensRegion(plan, L, t, j, maskSpans,
                        regions[L * perType + (t - t0) * calib.num.x + j]);
    });
    parallelForEach(items, [&](int item) {
      const LineSink report = viewLines[item].sink();
      const int L = item / viewCount;
      const cv::Point viewPos = plan.views[item % viewCount];
      cv::Mat& view = viewOf(item);
      for (int t = t0; t < t0 + rows; ++t) {
        for (int j = 0; j < calib.num.x; ++j) {
          const LensRegion& region = regions[L * perType + (t - t0) * calib.num.x + j];
          mergeLensIntoView(plan, L, t, j, viewPos, region, insideBytes, view, report);
        }
      }
    });
  }
  for (HeldLines& lines : viewLines) lines.passTo(renderer.options.outOfRangeLines);
  // The regions are worth keeping for the next single-view rendering only.
  if (viewCount > 1) std::vector<LensRegion>().swap(regions);
}

// Renders `views` (y outer, x inner; those outside the N x N grid are left
// out) of every type: at `givenSize` when `fixedSize`, each lens at its own
// patchSize otherwise; in colour when `colour`.
void renderViews(MultiViewRenderer& renderer, bool colour, bool fixedSize, int givenSize,
                 const std::vector<cv::Point>& views) {
  RenderPlan plan(renderer);
  plan.colour = colour;
  plan.viewType = plan.colour ? CV_8UC3 : CV_8UC1;
  plan.w = renderer.lensMask.cols;
  plan.h = renderer.lensMask.rows;
  plan.rowPitch = std::sqrt(3.0) * renderer.calib.radius;
  plan.fixedSize = fixedSize;
  plan.givenSize = givenSize;
  const bool builtLevels = renderer.options.buildAllScaleLevels;
  if (builtLevels) {
    const int entry = plan.colour ? 1 : 0;
    plan.levelCount = entry < static_cast<int>(renderer.scaledRawImage.size())
                          ? static_cast<int>(renderer.scaledRawImage[entry].size())
                          : 0;
  } else {
    plan.levelCount = renderer.scaleLevelWindows.levelCount();
  }
  const std::vector<int>& candidates = renderer.candidatePatchSizes;
  plan.smallestSize = candidates.empty() ? 0 : candidates[0];
  plan.largestSize = plan.smallestSize + renderer.patchSizeStep * (plan.levelCount - 1);
  const int N = renderer.viewNum;
  for (const cv::Point view : views) {
    if (view.x >= 0 && view.x < N && view.y >= 0 && view.y < N) plan.views.push_back(view);
  }

  if (builtLevels) {
    renderFromBuiltLevels(plan, renderer);
  } else {
    renderOnDemand(plan, renderer);
  }
}

}  // namespace

void MultiViewRenderer::renderMultiViewImage() {
  std::vector<cv::Point> views;
  for (int y = 0; y < viewNum; ++y) {
    for (int x = 0; x < viewNum; ++x) views.emplace_back(x, y);
  }
  renderViews(*this, rawImage.channels() > 1, false, 0, views);
}

void MultiViewRenderer::renderViewAtSize(cv::Point view, int size) {
  renderViews(*this, false, true, size, {view});
}

}  // namespace plenoview
