#pragma once

#include "base/line_sink.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// The two halves of the patch-size estimation, on their own so that each can
// be checked with hand-made inputs.

// Edge scores of the lenses of type `lensType` on `laplacian`, the 8-bit
// Laplacian of the view `view` of that type. Returns num.y x num.x doubles:
// lens (j, k) scores
//
//   floor(sum of edgeImage inside W / sum of lensEdgeMask x 100)
//
// where W is the lens's lensEdgeMask window and edgeImage, cleared once for
// the whole call, has received the Laplacian through lensEdgeMask inside the
// windows of this lens and of every lens before it (rows top to bottom,
// lenses left to right). So ring pixels of earlier, overlapping lenses count
// too, and a score can exceed 100. A lens whose window is not wholly inside
// the image scores 0; its checkRoiRange line goes to `report`.
cv::Mat scoreLensEdges(const MultiViewRenderer& renderer, const cv::Mat& laplacian, int lensType,
                       cv::Point view, const LineSink& report);

// Writes into `patchSize` (num.y x num.x, 8-bit), for every lens, the low 8
// bits of the candidate whose score table (scoreTables[i] for candidates[i])
// holds the lowest score truncated to an int, among the scores below 100. The
// earlier candidate wins a tie; a lens with no score below 100 keeps its entry.
void selectPatchSizes(const std::vector<cv::Mat>& scoreTables, const std::vector<int>& candidates,
                      cv::Mat& patchSize);

}  // namespace plenoview
