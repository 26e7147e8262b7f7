#pragma once

#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <array>
#include <memory>
#include <vector>

namespace plenoview {

// MultiViewRenderer::blendLensTypes(images, viewGrid): reads
// images.multiViewImage and images.patchMap, candidatePatchSizes, calib,
// viewSize and the type of images.rawImage. Fills viewGrid (resized to N x N,
// views of viewSize and rawImage's type) with the Gaussian-weighted sum of the
// three types (LensTypeBlend), weights chosen by the middle type's patch map.

// Blending weights of the lens types 0, 1, 2, each a table indexed by patch
// size 0 .. entries - 1. With a and b the smallest and largest candidate sizes
// and sigma = (b - a) / 4, type k owns the Gaussian bell centred at
// a + k (b - a) / 2:
//
//   g_k[l] = exp((l - mean_k)^2 / (-2 sigma^2)) x 1 / (sqrt(6.2831853) sigma)
//
// and the tables hold g_k[l] / (g_1[l] + g_0[l] + g_2[l]), so the three
// weights of a size sum to one. Needs a < b.
using LensTypeWeights = std::array<std::vector<double>, kLensTypes>;
LensTypeWeights lensTypeWeights(int first, int last, int entries);

// The blend of a frame's lens-type views, set up once per frame and then
// applied view by view, from any thread. Made from the renderer's
// candidatePatchSizes, calib and viewSize and the frame's rawImage type and
// middle-type patchMap, which then may change without affecting it.
class LensTypeBlend {
 public:
  LensTypeBlend(const MultiViewRenderer& renderer, const FrameImages& images);

  // Writes every pixel of `target` (made viewSize, rawImage's type, reusing
  // its pixels when they fit): per pixel and channel the Gaussian-weighted sum
  // of sources[0..2], the three types' views of one view, weights chosen by
  // the middle type's patch size there.
  void blend(const cv::Mat (&sources)[kLensTypes], cv::Mat& target) const;

 private:
  struct Tables;
  cv::Size viewSize_;
  int viewType_;
  std::shared_ptr<const Tables> tables_;
};

}  // namespace plenoview
