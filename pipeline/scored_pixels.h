#pragma once

#include "renderer/multi_view_renderer.h"
#include "renderer/scale_level_windows.h"

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// The pixels of one view whose Laplacian the patch-size scores read, per lens
// type, as the lens geometry fixes them: the rim pixels of the lenses whose
// rim window lies inside the view, about a third of the view on the grids of
// the field. The estimation takes the Laplacian there only.
//
// Runs closer than a few columns are joined (the Laplacian of the columns
// between is taken too, harmlessly): its loop takes eight pixels a step.
struct ScoredPixels {
  cv::Point view{0, 0};
  int rawBorder = 0;

  // Per type, of each view row r, the runs [rimRowStart[r], rimRowStart[r + 1])
  // of rimRuns, left to right.
  std::vector<int> rimRowStart[kLensTypes];
  std::vector<ColumnSpan> rimRuns[kLensTypes];
};

// The scored pixels of view `view` of frames padded by `rawBorder`.
ScoredPixels scoredPixelsOf(const MultiViewRenderer& renderer, cv::Point view, int rawBorder);

// The patch-size estimation's Laplacian of the 8-bit `view` at the pixels of
// the runs (rowStart and runs as in ScoredPixels, one entry per view row):
//
//   clamp(3 x (up + down + left + right) - 12 x centre, 0, 255)
//
// with neighbours outside the view mirrored about its edge pixel (reflect
// 101), which is what cv::Laplacian(view, out, CV_8U, 1, 3.0, 0.0,
// BORDER_REFLECT_101) computes there. Up to seven pixels after a run may be
// written too (with the same formula); the others of `laplacian` (the view's
// size and 8-bit) are left as they were.
void rimLaplacian(const cv::Mat& view, const std::vector<int>& rowStart,
                  const std::vector<ColumnSpan>& runs, cv::Mat& laplacian);

}  // namespace plenoview
