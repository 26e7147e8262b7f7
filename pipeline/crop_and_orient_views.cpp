#include "pipeline/crop_and_orient_views.h"

#include "renderer/view_geometry.h"

#include <opencv2/core.hpp>

#include <cmath>

namespace plenoview {

namespace {

// Just below pi/4: a grid turned by exactly this much is not turned back.
constexpr double kTurnAngle = 0.7853981625;

}  // namespace

void MultiViewRenderer::cropAndOrientView(cv::Mat& view, cv::Mat& turned) const {
  // The same rectangle for every view; a region, no pixels are copied. The
  // set-up has made sure it is not empty.
  const cv::Mat cropped = view(cropRectangle(calib, viewSize));

  // A grid turned by more than 45 degrees in either direction renders views
  // lying on their side; turn them 90 degrees counter-clockwise:
  //
  //   a b c          c f
  //   d e f   -->    b e
  //                  a d
  //
  // transpose, then reverse the row order: turned (r, c) = cropped (c, W - 1 - r).
  if (std::abs(calib.rotation) <= kTurnAngle) {
    view = cropped;
    return;
  }
  // Kept per thread, so that turning a stream of views allocates nothing.
  thread_local cv::Mat transposed;
  cv::transpose(cropped, transposed);
  cv::flip(transposed, turned, 0);
  view = turned;
}

void MultiViewRenderer::cropAndOrientViews(ViewGrid& viewGrid) const {
  for (int x = 0; x < viewNum; ++x) {
    for (int y = 0; y < viewNum; ++y) {
      // A new image per turned view: the grid's views are the caller's.
      cv::Mat turned;
      cropAndOrientView(viewGrid[x][y], turned);
    }
  }
}

}  // namespace plenoview
