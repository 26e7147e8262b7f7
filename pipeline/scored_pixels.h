#pragma once

#include "renderer/multi_view_renderer.h"
#include "renderer/scale_level_windows.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace plenoview {

// The pixels of one view that the patch-size scores read, per lens type, as
// the lens geometry fixes them: the rim pixels, whose Laplacian the scores
// sum, and the pixels that Laplacian reads (the rim pixels and their four
// neighbours). Each pixel of a view is merged from the patches that cover
// it, in lens order and independently of every other pixel, so rendering
// only these pixels gives them the bytes of the whole rendering, and the
// scores stay exact. On the grids of the field they are about three in five
// of the patch pixels; the rim pixels about a third of the view.
//
// Runs closer than a few columns are joined (the columns between are
// rendered too, harmlessly): short runs would cost more than they save.
struct ScoredPixels {
  cv::Point view{0, 0};
  int rawBorder = 0;
  cv::Size patchSize{0, 0};  // lensMask's
  cv::Size numLenses{0, 0};  // calib.num: lenses per row, lens rows

  // Per type, of each view row r, the runs [rimRowStart[r], rimRowStart[r + 1])
  // of rimRuns: the rim pixels of the lenses whose rim window lies inside the
  // view.
  std::vector<int> rimRowStart[kLensTypes];
  std::vector<ColumnSpan> rimRuns[kLensTypes];

  // Per type, lens by lens (lens rows top to bottom, lenses left to right),
  // the patch pixels to render: patchSize.height rows of wordsPerRow words.
  // Only pixels under the mask (255) and inside the view are set.
  int wordsPerRow = 0;
  std::vector<std::uint64_t> patchBits[kLensTypes];

  ColumnBits lensBits(int type, int row, int column) const {
    const size_t lens = static_cast<size_t>(row) * numLenses.width + column;
    return {patchBits[type].data() + lens * patchSize.height * wordsPerRow, wordsPerRow};
  }
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
