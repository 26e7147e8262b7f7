#include "renderer/multi_view_renderer.h"
#include "renderer/view_geometry.h"

#include <opencv2/core.hpp>

#include <cmath>

namespace plenoview {

namespace {

// Just below pi/4: a grid turned by exactly this much is not turned back.
constexpr double kTurnAngle = 0.7853981625;

}  // namespace

void MultiViewRenderer::cropAndOrientViews(ViewGrid& viewGrid) {
  // The same rectangle for every view; a region, no pixels are copied. The
  // set-up has made sure it is not empty.
  const cv::Rect crop = cropRectangle(calib, viewSize);
  for (int x = 0; x < viewNum; ++x) {
    for (int y = 0; y < viewNum; ++y) viewGrid[x][y] = viewGrid[x][y](crop);
  }

  // A grid turned by more than 45 degrees in either direction renders views
  // lying on their side; turn them 90 degrees counter-clockwise:
  //
  //   a b c          c f
  //   d e f   -->    b e
  //                  a d
  //
  // transpose, then reverse the row order: turned (r, c) = cropped (c, W - 1 - r).
  if (std::abs(calib.rotation) > kTurnAngle) {
    cv::Mat scratch;
    for (int x = 0; x < viewNum; ++x) {
      for (int y = 0; y < viewNum; ++y) {
        cv::transpose(viewGrid[x][y], scratch);
        cv::Mat turned;
        cv::flip(scratch, turned, 0);
        viewGrid[x][y] = turned;
      }
    }
  }
}

}  // namespace plenoview
