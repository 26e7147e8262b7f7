#include "pipeline/render_multi_view_image.h"

#include "base/parallel_work.h"
#include "pipeline/check_roi_range.h"
#include "pipeline/merge_patch.h"
#include "pipeline/widened_spans.h"
#include "renderer/half_merge.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace plenoview {

namespace {

// Lenses whose source regions are held at once while views are rendered
// on demand: bounds that scratch to a few MB on any frame.
constexpr int kLensesPerBand = 512;

// What one rendering call works with, fixed for the call.
struct RenderPlan {
  RenderPlan(const MultiViewRenderer& r, const FrameImages& i) : renderer(r), images(i) {}

  const MultiViewRenderer& renderer;
  const FrameImages& images;
  bool colour = false;  // three-channel views cut from the colour levels
  int viewType = CV_8UC1;
  int w = 0;  // lensMask width and height: every patch's size
  int h = 0;
  bool fixedSize = false;
  int givenSize = 0;
  int smallestSize = 0;  // patch sizes of the first and last levels
  int largestSize = 0;
  int levelCount = 0;
  std::vector<cv::Point> views;  // the views to render, y outer, x inner
  int firstType = 0;             // the lens types to render: [firstType, endType)
  int endType = kLensTypes;
  // Per type, the image each view of `views` is rendered into.
  std::vector<cv::Mat*> targets[kLensTypes];
  // What the merges read of lensMask: per mask row its non-zero columns; per
  // byte of a patch 255 where the merge writes (mergeBytes); and per patch
  // row the bytes from the first to the last one the merge writes (outside
  // them it would leave the view as it is), widened to 16 where the row
  // allows so that a short row takes one 16-byte step.
  std::vector<ColumnSpan> maskSpans;
  cv::Mat insideBytes;
  std::vector<ColumnSpan> insideSpans;
  // Every mask row is 255 from its first to its last non-zero pixel: a
  // window merges through maskSpans as it does through insideBytes.
  bool solidMask = false;

  // Patch size of lens (type, row, column) after the margins. Patch sizes map
  // to the levels that frame preparation made, level i standing for
  // candidatePatchSizes[0] + i x patchSizeStep. A size outside them (a
  // patchSize entry or givenSize no candidate produces) is taken as the
  // nearest size that has a level, for its scale as well as its level.
  int patchSizeOf(int type, int row, int column) const {
    const int s = fixedSize ? givenSize : renderer.patchSize[type].at<uchar>(row, column);
    return std::clamp(s + 2 * renderer.lensMargin, smallestSize, largestSize);
  }

  int levelOf(int s) const { return (s - smallestSize) / renderer.patchSizeStep; }

  // The window of lens (type, row, column) for `view`, in the level of size
  // s: the lens centre in the padded raw frame, moved by whole pixels per
  // view step, scaled by k = w / s (single precision, widened).
  cv::Rect sourceWindow(int type, int row, int column, cv::Point view, int s) const {
    const double k = static_cast<float>(w) / static_cast<float>(s);
    const cv::Point2d lens = lensCentre(renderer.calib, type, row, column);
    // Left to right, each int term converted on its own.
    const double px = lens.x + (view.x - renderer.centerView.x) + images.rawBorder;
    const double py = lens.y + (view.y - renderer.centerView.y) + images.rawBorder;
    return cv::Rect(cvRound(k * px - w * 0.5), cvRound(k * py - h * 0.5), w, h);
  }

  // The destination of lens (type, row, column) in `view`: the lens grid
  // shrunk by (radius - lensMargin) / diameter about the type's reference
  // lens; the patch keeps its full size, so neighbours overlap.
  cv::Rect destinationWindow(int type, int row, int column, cv::Point view) const {
    return renderer.viewPosition(renderer.lensMask.size(), type, row, column, view,
                                 images.rawBorder);
  }
};

// ---------------------------------------------------------------------------
// From levels built whole: one lens after another, a plain rectangle copy
// per patch. The reference for the rendering on demand.

void renderFromBuiltLevels(const RenderPlan& plan, const LineSink& report) {
  const MultiViewRenderer& renderer = plan.renderer;
  const LensCalibration& calib = renderer.calib;
  const std::vector<cv::Mat>& levels = plan.images.scaledRawImage[plan.colour ? 1 : 0];
  cv::Mat patch(plan.h, plan.w, plan.viewType);
  for (int type = plan.firstType; type < plan.endType; ++type) {
    for (size_t v = 0; v < plan.views.size(); ++v) {
      const cv::Point viewPos = plan.views[v];
      cv::Mat& view = *plan.targets[type][v];
      // Zeroed in the pixels it has when its size and type fit.
      view.create(renderer.viewSize, plan.viewType);
      view.setTo(cv::Scalar::all(0));
      if (plan.levelCount == 0) continue;
      for (int row = 0; row < calib.num.y; ++row) {
        for (int column = 0; column < calib.num.x; ++column) {
          const int s = plan.patchSizeOf(type, row, column);
          // A lens whose window leaves its level still shows, as a white
          // disc, so that the hole is visible in the view.
          patch.setTo(cv::Scalar::all(255));
          const cv::Mat& source = levels[plan.levelOf(s)];
          const cv::Rect window = plan.sourceWindow(type, row, column, viewPos, s);
          if (checkRoiRange(source, window, report))
            source(window).copyTo(patch, renderer.lensMask);

          const cv::Rect destination = plan.destinationWindow(type, row, column, viewPos);
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

void computeLensRegion(const RenderPlan& plan, int type, int row, int column, LensRegion& region) {
  const ScaleLevelWindows& levels = plan.images.scaleLevelWindows;
  const int s = plan.patchSizeOf(type, row, column);
  const int level = plan.levelOf(s);
  const cv::Rect levelRect(cv::Point(0, 0), levels.levelSize(level));
  cv::Rect bounds;
  for (const cv::Point view : plan.views) {
    const cv::Rect window = plan.sourceWindow(type, row, column, view, s);
    if ((window & levelRect) == window) bounds = bounds.empty() ? window : (bounds | window);
  }
  region.origin = bounds.tl();
  if (bounds.empty()) return;
  // A single view needs only the pixels under the lens mask.
  const bool singleWindow = bounds.size() == cv::Size(plan.w, plan.h);
  levels.computeWindow(level, bounds, !plan.colour, region.pixels,
                       singleWindow ? &plan.maskSpans : nullptr);
}

// Zeroes rows [cleared, end) of `view` and moves `cleared` on to `end`. A view
// is cleared just ahead of the first lens that reaches each row, instead of
// whole before the rendering: the rows then are still in the cache when the
// lenses merge into them, and nothing has written them in between, because
// every lens merged so far ended above `cleared`.
void clearRowsUpTo(cv::Mat& view, int end, int& cleared) {
  end = std::min(end, view.rows);
  for (; cleared < end; ++cleared) {
    std::memset(view.ptr<uchar>(cleared), 0, view.cols * view.elemSize());
  }
}

// The patch of a lens whose window leaves its level: 255 under the mask.
void mergeWhiteDisc(const RenderPlan& plan, cv::Mat& view, const cv::Rect& destination) {
  const int cn = view.channels();
  for (int r = 0; r < plan.h; ++r) {
    const ColumnSpan span = plan.insideSpans[r];
    if (span.begin >= span.end) continue;
    mergeHalfRowConstant(255, view.ptr<uchar>(destination.y + r) + destination.x * cn + span.begin,
                         plan.insideBytes.ptr<uchar>(r) + span.begin, span.end - span.begin);
  }
}

void mergeLensIntoView(const RenderPlan& plan, int type, int row, int column, cv::Point viewPos,
                       const LensRegion& region, cv::Mat& view, int& clearedRows,
                       const LineSink& report) {
  const int s = plan.patchSizeOf(type, row, column);
  const cv::Rect window = plan.sourceWindow(type, row, column, viewPos, s);
  const bool sourceInside =
      checkRoiRange(plan.images.scaleLevelWindows.levelSize(plan.levelOf(s)), window, report);
  const cv::Rect destination = plan.destinationWindow(type, row, column, viewPos);
  if (!checkRoiRange(view, destination, report)) return;
  clearRowsUpTo(view, destination.y + plan.h, clearedRows);

  // The patch is the window where the mask is non-zero and 255 elsewhere
  // (all of it when the window leaves its level); the merge writes only
  // where the mask is 255, so the window's pixels or 255 go straight in.
  if (!sourceInside) {
    mergeWhiteDisc(plan, view, destination);
    return;
  }
  const int cn = view.channels();
  const cv::Point at = window.tl() - region.origin;
  uchar* target = view.ptr<uchar>(destination.y) + destination.x * cn;
  const uchar* patch = region.pixels.ptr<uchar>(at.y) + at.x * cn;
  for (int r = 0; r < plan.h; ++r, target += view.step, patch += region.pixels.step) {
    if (plan.solidMask) {
      // Every byte of the span is merged: no mask to read.
      const ColumnSpan span = plan.maskSpans[r];
      if (span.begin >= span.end) continue;
      mergeHalfRowWhole(patch + span.begin * cn, target + span.begin * cn,
                        (span.end - span.begin) * cn);
    } else {
      const ColumnSpan span = plan.insideSpans[r];
      if (span.begin >= span.end) continue;
      mergeHalfRow(patch + span.begin, target + span.begin,
                   plan.insideBytes.ptr<uchar>(r) + span.begin, span.end - span.begin);
    }
  }
}

void renderOnDemand(const RenderPlan& plan, const LineSink& lines) {
  const MultiViewRenderer& renderer = plan.renderer;
  const LensCalibration& calib = renderer.calib;
  const int viewCount = static_cast<int>(plan.views.size());
  const int items = kLensTypes * viewCount;  // (type, view), type outer
  auto viewOf = [&](int item) -> cv::Mat& {
    return *plan.targets[item / viewCount][item % viewCount];
  };
  // Every view starts at zeros, in the pixels it has when their size and
  // type fit. Made on this thread: the large images come from one place in
  // memory from frame to frame. Each work item zeroes its view's rows as its
  // lenses reach them (clearedRows), and the rows below the last lens at the
  // end.
  for (int item = 0; item < items; ++item) viewOf(item).create(renderer.viewSize, plan.viewType);
  std::vector<int> clearedRows(items, 0);
  auto clearRest = [&] {
    parallelForEach(items, [&](int item) {
      cv::Mat& view = viewOf(item);
      clearRowsUpTo(view, view.rows, clearedRows[item]);
    });
  };
  if (plan.levelCount == 0 || calib.num.x <= 0 || calib.num.y <= 0) {
    clearRest();
    return;
  }

  // Each view's window lines, in its lens order; passed on in view order.
  std::vector<HeldLines> viewLines(items);
  // Kept from call to call (the estimation renders once per candidate, the
  // streamed frame once per group). The work items reach this thread's
  // vector through the reference.
  thread_local std::vector<LensRegion> keptRegions;
  std::vector<LensRegion>& regions = keptRegions;

  const int bandRows = std::max(1, kLensesPerBand / (kLensTypes * calib.num.x));
  for (int firstRow = 0; firstRow < calib.num.y; firstRow += bandRows) {
    const int rows = std::min(bandRows, calib.num.y - firstRow);
    const int perType = rows * calib.num.x;
    regions.resize(kLensTypes * perType);
    auto regionOf = [&](int type, int row, int column) -> LensRegion& {
      return regions[type * perType + (row - firstRow) * calib.num.x + column];
    };
    // Taken by lens row, then along the row, then by type: the lenses of all
    // three types in a row read the same frame rows while they are cached.
    parallelForEach(kLensTypes * perType, [&](int i) {
      const int row = firstRow + i / (kLensTypes * calib.num.x);
      const int column = i / kLensTypes % calib.num.x;
      const int type = i % kLensTypes;
      computeLensRegion(plan, type, row, column, regionOf(type, row, column));
    });
    parallelForEach(items, [&](int item) {
      const LineSink report = lines ? viewLines[item].sink() : LineSink();
      const int type = item / viewCount;
      const cv::Point viewPos = plan.views[item % viewCount];
      cv::Mat& view = viewOf(item);
      for (int row = firstRow; row < firstRow + rows; ++row) {
        for (int column = 0; column < calib.num.x; ++column) {
          mergeLensIntoView(plan, type, row, column, viewPos, regionOf(type, row, column), view,
                            clearedRows[item], report);
        }
      }
    });
  }
  clearRest();
  for (HeldLines& held : viewLines) held.passTo(lines);
  // The regions stay for the next call: a band's worth of them, a few MB,
  // whose images the next call reuses where their sizes fit.
}

// One lens type's view of a single-view plan on the calling thread, lens
// after lens: each patch is computed and merged into the view while it is
// still in the cache. The estimation runs many of these side by side.
void renderLensByLens(const RenderPlan& plan, const LineSink& report) {
  const MultiViewRenderer& renderer = plan.renderer;
  const LensCalibration& calib = renderer.calib;
  const int type = plan.firstType;
  CV_Assert(plan.views.size() == 1 && plan.endType == type + 1);
  cv::Mat& view = *plan.targets[type][0];
  view.create(renderer.viewSize, plan.viewType);
  int clearedRows = 0;
  if (plan.levelCount > 0 && plan.solidMask) {
    // Each window is merged row by row as it is computed, through the mask
    // spans: the same tests in the same order as mergeLensIntoView makes.
    const ScaleLevelWindows& levels = plan.images.scaleLevelWindows;
    const cv::Point viewPos = plan.views[0];
    for (int row = 0; row < calib.num.y; ++row) {
      for (int column = 0; column < calib.num.x; ++column) {
        const int s = plan.patchSizeOf(type, row, column);
        const int level = plan.levelOf(s);
        const cv::Rect window = plan.sourceWindow(type, row, column, viewPos, s);
        const bool sourceInside = checkRoiRange(levels.levelSize(level), window, report);
        const cv::Rect destination = plan.destinationWindow(type, row, column, viewPos);
        if (!checkRoiRange(view, destination, report)) continue;
        clearRowsUpTo(view, destination.y + plan.h, clearedRows);
        if (sourceInside) {
          levels.mergeWindow(level, window, !plan.colour, plan.maskSpans,
                             view.ptr<uchar>(destination.y) + destination.x * view.channels(),
                             view.step);
        } else {
          mergeWhiteDisc(plan, view, destination);
        }
      }
    }
  } else if (plan.levelCount > 0) {
    thread_local LensRegion region;
    for (int row = 0; row < calib.num.y; ++row) {
      for (int column = 0; column < calib.num.x; ++column) {
        computeLensRegion(plan, type, row, column, region);
        mergeLensIntoView(plan, type, row, column, plan.views[0], region, view, clearedRows,
                          report);
      }
    }
  }
  clearRowsUpTo(view, view.rows, clearedRows);
}

// The plan of rendering `views` (y outer, x inner; those outside the N x N
// grid are left out) of every type into the images `targetOf(type, view
// index)` gives: at `givenSize` when `fixedSize`, each lens at its own
// patchSize otherwise; in colour when `colour`.
template <typename TargetOf>
RenderPlan planOf(const MultiViewRenderer& renderer, const FrameImages& images, bool colour,
                  bool fixedSize, int givenSize, const std::vector<cv::Point>& views,
                  TargetOf targetOf) {
  RenderPlan plan(renderer, images);
  plan.colour = colour;
  plan.viewType = plan.colour ? CV_8UC3 : CV_8UC1;
  plan.w = renderer.lensMask.cols;
  plan.h = renderer.lensMask.rows;
  plan.fixedSize = fixedSize;
  plan.givenSize = givenSize;
  plan.maskSpans = nonZeroSpans(renderer.lensMask);
  plan.insideBytes = mergeBytes(renderer.lensMask, CV_MAT_CN(plan.viewType));
  plan.insideSpans = nonZeroSpans(plan.insideBytes);
  widenSpans(plan.insideSpans, plan.insideBytes.cols, 16);
  plan.solidMask = solidWithin(renderer.lensMask, plan.maskSpans);
  if (renderer.options.buildAllScaleLevels) {
    const int entry = plan.colour ? 1 : 0;
    plan.levelCount = entry < static_cast<int>(images.scaledRawImage.size())
                          ? static_cast<int>(images.scaledRawImage[entry].size())
                          : 0;
  } else {
    plan.levelCount = images.scaleLevelWindows.levelCount();
  }
  const std::vector<int>& candidates = renderer.candidatePatchSizes;
  plan.smallestSize = candidates.empty() ? 0 : candidates[0];
  plan.largestSize = plan.smallestSize + renderer.patchSizeStep * (plan.levelCount - 1);
  const int N = renderer.viewNum;
  for (size_t i = 0; i < views.size(); ++i) {
    const cv::Point view = views[i];
    if (view.x < 0 || view.x >= N || view.y < 0 || view.y >= N) continue;
    plan.views.push_back(view);
    for (int type = 0; type < kLensTypes; ++type) plan.targets[type].push_back(targetOf(type, i));
  }
  return plan;
}

// Renders the views of `plan`, their window lines to `lines`.
void renderViewsOf(const RenderPlan& plan, const LineSink& lines) {
  if (plan.renderer.options.buildAllScaleLevels) {
    renderFromBuiltLevels(plan, lines);
  } else {
    renderOnDemand(plan, lines);
  }
}

// Size of level `level` of the scale levels the plan reads.
cv::Size levelSize(const RenderPlan& plan, int level) {
  if (plan.renderer.options.buildAllScaleLevels) {
    return plan.images.scaledRawImage[plan.colour ? 1 : 0][level].size();
  }
  return plan.images.scaleLevelWindows.levelSize(level);
}

std::vector<cv::Point> allViews(int N) {
  std::vector<cv::Point> views;
  for (int y = 0; y < N; ++y) {
    for (int x = 0; x < N; ++x) views.emplace_back(x, y);
  }
  return views;
}

}  // namespace

void MultiViewRenderer::renderMultiViewImage(FrameImages& images, const LineSink& lines) const {
  const std::vector<cv::Point> views = allViews(viewNum);
  for (ViewGrid& grid : images.multiViewImage) {
    grid.resize(viewNum);
    for (std::vector<cv::Mat>& column : grid) column.resize(viewNum);
  }
  const RenderPlan plan = planOf(
      *this, images, images.rawImage.channels() > 1, false, 0, views,
      [&](int type, size_t i) { return &images.multiViewImage[type][views[i].x][views[i].y]; });
  renderViewsOf(plan, lines);
}

void MultiViewRenderer::renderViews(const FrameImages& images, const std::vector<cv::Point>& views,
                                    std::vector<cv::Mat> (&typeViews)[kLensTypes]) const {
  // Grown, never shrunk: a shorter group keeps the images of a longer one
  // for the next.
  for (std::vector<cv::Mat>& ofType : typeViews) {
    if (ofType.size() < views.size()) ofType.resize(views.size());
  }
  const RenderPlan plan = planOf(*this, images, images.rawImage.channels() > 1, false, 0, views,
                                 [&](int type, size_t i) { return &typeViews[type][i]; });
  renderViewsOf(plan, LineSink());
}

void MultiViewRenderer::reportRenderingLines(const FrameImages& images,
                                             const LineSink& lines) const {
  if (!lines) return;
  const RenderPlan plan = planOf(*this, images, images.rawImage.channels() > 1, false, 0,
                                 allViews(viewNum), [](int, size_t) { return nullptr; });
  if (plan.levelCount == 0) return;
  // The same two tests, in the same order, as each lens of the rendering
  // makes them: its source window against its level, then its place in the
  // view. Both depend on the geometry alone.
  for (int type = 0; type < kLensTypes; ++type) {
    for (const cv::Point viewPos : plan.views) {
      for (int row = 0; row < calib.num.y; ++row) {
        for (int column = 0; column < calib.num.x; ++column) {
          const int s = plan.patchSizeOf(type, row, column);
          checkRoiRange(levelSize(plan, plan.levelOf(s)),
                        plan.sourceWindow(type, row, column, viewPos, s), lines);
          checkRoiRange(viewSize, plan.destinationWindow(type, row, column, viewPos), lines);
        }
      }
    }
  }
}

void MultiViewRenderer::renderTypeViewAtSize(const FrameImages& images, int type, cv::Point view,
                                             int size, cv::Mat& typeView,
                                             const LineSink& lines) const {
  RenderPlan plan =
      planOf(*this, images, false, true, size, {view}, [&](int, size_t) { return &typeView; });
  plan.firstType = type;
  plan.endType = type + 1;
  if (plan.views.empty()) return;
  if (options.buildAllScaleLevels) {
    renderFromBuiltLevels(plan, lines);
  } else {
    renderLensByLens(plan, lines);
  }
}

}  // namespace plenoview
