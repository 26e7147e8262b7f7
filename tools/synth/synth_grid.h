#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <memory>
#include <string>

namespace plenoview::synth {

// One micro-lens of the (unbounded) lattice: lens `column` of lens type `type`
// in lens row `row`, numbered as the renderer numbers them. Rows and columns
// outside 0 .. num-1 are lenses the renderer never uses, cut by the frame edge.
struct LensIndex {
  int type = 0;
  int row = 0;
  int column = 0;
};

// How the centre view is assembled from one lens at one patch size, turned
// around: where a point of the lens's micro-image ends up in the texture.
// Coordinates `u` are those of the frame after it has been turned back by the
// grid rotation, before the border is added (the renderer's rawImage before
// padding); the result is in texture coordinates, which are the centre-view
// coordinates of the middle lens type.
struct LensMapping {
  int patchSize = 0;     // true patch size s (without the margins)
  cv::Size levelSize;    // size of the renderer's scale level for s + 2 x margin
  cv::Size paddedSize;   // the frame plus the view border on each side
  int border = 0;        // view border = N / 2
  cv::Point source;      // corner of the patch cut from the scale level
  cv::Point dest;        // corner of the patch in the type's centre view
  double typeShift = 0;  // x from the type's view to the middle type's view

  // Scale level pixel of frame point u, then patch pixel, then view pixel:
  //   X = (u + border + 0.5) x levelSize / paddedSize - 0.5
  //   V = dest + (X - source),  texture x = V.x + typeShift
  cv::Point2d toTexture(cv::Point2d u) const;
};

// The lens grid of a calibration file as the renderer sees it, for N views
// per side. It holds a renderer set up from the calibration, so that the
// positions, view size, masks and candidate sizes are the renderer's own.
class SynthGrid {
 public:
  // `calib` as readCalibration filled it for frames of `frameSize`.
  SynthGrid(const LensCalibration& calib, int views, cv::Size frameSize);
  ~SynthGrid();

  const LensCalibration& calib() const;
  cv::Size frameSize() const { return frameSize_; }
  int views() const;
  cv::Size viewSize() const;
  int firstCandidate() const;
  int lastCandidate() const;
  int middleType() const { return middleType_; }

  // Lens centre in the turned-back frame.
  cv::Point2d lensCentre(const LensIndex& lens) const;

  // The lens whose micro-image holds u (the nearest lens centre).
  LensIndex nearestLens(cv::Point2d u) const;

  // True for the lenses the renderer uses (rows 0 .. num.y-1, columns 0 .. num.x-1).
  bool rendered(const LensIndex& lens) const;

  // Where the lens centre lands in texture coordinates, before rounding.
  cv::Point2d textureCentre(const LensIndex& lens) const;

  // The renderer's placement of `lens` in the centre view at `patchSize`.
  LensMapping mapping(const LensIndex& lens, int patchSize) const;

  // 2 x 3 affine matrix that takes a pixel of the generated frame to the
  // turned-back frame: the very rotation the renderer applies.
  cv::Mat turnBack() const;

 private:
  // The black border frame preparation pads the turned-back frame by.
  int rawBorder() const;

  std::unique_ptr<MultiViewRenderer> renderer_;
  cv::Size frameSize_;
  int middleType_ = 0;
};

// Shortest decimal text that reads back as exactly `value`.
std::string exactNumber(double value);
std::string exactNumber(float value);

// The calibration file for a grid of lens diameter `diameter`, rotation
// `rotation` (radians), centre `centerOffset` from the frame centre (y down;
// the file's y points up) and the three lens-type offsets.
std::string calibrationXml(double diameter, double rotation, cv::Point2d centerOffset,
                           const cv::Point2f typeOffset[kLensTypes]);

}  // namespace plenoview::synth
