#pragma once

#include "tools/synth/scene_texture.h"
#include "tools/synth/synth_grid.h"
#include "tools/synth/synth_options.h"

#include <opencv2/core.hpp>

#include <memory>

namespace plenoview::synth {

// The range of true patch sizes, smallest and largest: the options' range, or
// by default the candidate sizes without the largest two. Those two cut the
// patch from the very rim of the micro-image, where the dark sensor between
// the micro-images bleeds in.
cv::Point patchSizeRange(const SynthOptions& options, const SynthGrid& grid);

// Draws raw frames of the micro-lens grid looking at the scene plane, and
// their ground truth.
//
// The scene is a texture in the centre-view coordinates of the middle lens
// type (texture coordinates) whose depth is given as the true patch size of
// every lens. A lens of patch size s shows, at each point u of its
// micro-image, the texture at LensMapping::toTexture(u): exactly the point to
// which the renderer carries u when it assembles the centre view with that
// lens at size s. Each lens type is sharp around its own patch size (type 0
// at the smallest candidate, type 1 in the middle, type 2 at the largest) and
// defocused away from it.
class FrameSynthesizer {
 public:
  FrameSynthesizer(const SynthOptions& options, const SynthGrid& grid);

  // The raw frame `frame` (0-based), 8-bit, 3 channels (BGR) or 1.
  cv::Mat rawFrame(int frame) const;

  // The texture as the centre view of frame `frame` should show it: view size,
  // 8-bit, the raw frames' channels.
  cv::Mat truthTexture(int frame) const;

  // True patch size of every rendered lens of `type` in frame `frame`:
  // num.y rows x num.x columns, 8-bit, laid out like the renderer's patchSize.
  cv::Mat truePatchSizes(int frame, int type) const;

  // True patch size of a lens in frame `frame`, from the depth at its centre.
  int patchSize(const LensIndex& lens, int frame) const;

  // Defocus plus pixel area of lens type `type` at patch size s, as the
  // standard deviation of a Gaussian in raw pixels (0 with blur off).
  double blurSigma(int type, int patchSize) const;

  const SceneTexture& texture() const { return *texture_; }

  // Raster position of texture point `p` in frame `frame`.
  cv::Point2d rasterPosition(cv::Point2d p, int frame) const;

  static constexpr double kSensorLevel = 6.0;  // the dark sensor between micro-images

 private:
  const SynthOptions options_;
  const SynthGrid& grid_;
  int smallest_ = 0;  // range of true patch sizes
  int largest_ = 0;
  cv::Point2d origin_;  // raster position of texture point (0, 0) in frame 0
  std::unique_ptr<SceneTexture> texture_;
};

}  // namespace plenoview::synth
