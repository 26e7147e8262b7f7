#pragma once

#include "base/line_sink.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// MultiViewRenderer::estimatePatchSizes(images, lines): chooses per lens the
// candidate with the lowest rim-Laplacian score on the centre view. Reads the
// scale levels and rawBorder of `images`, calib, lensMask, lensEdgeMask,
// candidatePatchSizes, centerView. Writes patchSize (entries no candidate
// wins keep their value) and, on its first call, scoredPixels. Each
// candidate is rendered once for all three types (grey, every lens at that
// size); each type's view is scored by the Laplacian through the rim masks
// (scoreLensEdges) and the sizes chosen (selectPatchSizes). Only the rims'
// Laplacian is taken (rimLaplacian); with the levels built whole, the
// reference, the whole Laplacian. The window lines of the renderings come
// first, then those of the scoring in the order type, candidate, lens row,
// lens.
//
// MultiViewRenderer::usePatchSizes(sizes): the estimation's place when the
// sizes are given: patchSize becomes a copy of `sizes` (same shapes, 8-bit).

// The two halves of the estimation, on their own so that each can be checked
// with hand-made inputs.

// Edge scores of the lenses of type `type` on `laplacian`, the 8-bit
// Laplacian of the view `view` of that type, rendered from a frame padded by
// `rawBorder`. Returns num.y x num.x doubles: lens (row, column) scores
//
//   floor(sum of edgeImage inside W / sum of lensEdgeMask x 100)
//
// where W is the lens's lensEdgeMask window and edgeImage, cleared once for
// the whole call, has received the Laplacian through lensEdgeMask inside the
// windows of this lens and of every lens before it (rows top to bottom,
// lenses left to right). So ring pixels of earlier, overlapping lenses count
// too, and a score can exceed 100. A lens whose window is not wholly inside
// the image scores 0; its checkRoiRange line goes to `report`.
cv::Mat scoreLensEdges(const MultiViewRenderer& renderer, const cv::Mat& laplacian, int type,
                       cv::Point view, int rawBorder, const LineSink& report);

// Writes into `patchSize` (num.y x num.x, 8-bit), for every lens, the low 8
// bits of the candidate whose score table (scoreTables[i] for candidates[i])
// holds the lowest score truncated to an int, among the scores below 100. The
// earlier candidate wins a tie; a lens with no score below 100 keeps its entry.
void selectPatchSizes(const std::vector<cv::Mat>& scoreTables, const std::vector<int>& candidates,
                      cv::Mat& patchSize);

}  // namespace plenoview
