#pragma once

#include "tools/synth/synth_options.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace plenoview::synth {

// The picture on the scene plane: an 8-bit raster (grey or BGR) that is read
// between its pixels by bilinear interpolation, plainly or through a Gaussian
// blur of any width (for defocus and for the area of a sensor pixel).
class SceneTexture {
 public:
  // A raster of `area` of the plane (pixel (0, 0) at the plane's point
  // area.tl()): the procedural texture drawn from `seed` (colour or grey), or
  // a flat field of value kWhiteLevel. Blurs up to `maxSigma` raster pixels
  // are prepared.
  SceneTexture(SceneKind kind, bool colour, cv::Rect area, std::uint32_t seed, double maxSigma);

  static constexpr int kWhiteLevel = 230;

  const cv::Mat& raster() const { return raster_; }
  int channels() const { return raster_.channels(); }

  // The texture at raster position (x, y) (pixel centres at whole numbers),
  // blurred by a Gaussian of `sigma` raster pixels, one value per channel
  // into `out`. Sigma 0 is the bilinear interpolation of the 8-bit raster
  // itself; positions beyond the edge repeat the edge pixels.
  void sample(double x, double y, double sigma, double out[3]) const;

 private:
  cv::Mat raster_;               // 8-bit, the ground truth
  std::vector<double> sigmas_;   // 0, then growing by sqrt(2)
  std::vector<cv::Mat> levels_;  // float copies of raster_ blurred by sigmas_
};

// Draws `area` of the procedural texture's plane: colour clouds, luminance
// detail at scales of about 32, 16 and 8 pixels, and shapes, stripes,
// checkerboards and text with sharp edges. A point of the plane gets the same
// value whatever area is drawn, except within a few pixels of the area's edge
// (the final softening repeats the edge). Grey textures are the grey
// conversion of the colour one.
cv::Mat drawSceneTexture(cv::Rect area, bool colour, std::uint32_t seed);

}  // namespace plenoview::synth
