#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace plenoview {

// Micro-lens types of the camera: they alternate along every lens row, and
// every per-type table is indexed by the type 0, 1, 2.
constexpr int kLensTypes = 3;

// The hexagonal micro-lens grid of one camera, derived from its calibration
// file and the size of the first raw frame.
//
// Lens centres lie in horizontal rows, `diameter` apart along a row; rows are
// sqrt(3) x radius apart. The three lens types alternate along a row, so one
// type repeats every 3 x diameter. Row class 0 holds lens rows 0, 2, 4, ...
// (counted from the top-most row wholly in the frame), class 1 the odd rows.
//
//      row 0:   0 1 2 0 1 2 0 ...      (digits: lens types)
//      row 1:  2 0 1 2 0 1 2 ...       shifted by radius + diameter
struct LensCalibration {
  double diameter = 0.0;                     // micro-lens diameter in raw pixels
  double radius = 0.0;                       // diameter x 0.5
  double rotation = 0.0;                     // grid rotation against the image axes, radians
  cv::Point num{0, 0};                       // x: lenses of one type per row, y: lens rows
  cv::Point2d offset[kLensTypes];            // per lens type, in units of diameter (read as float)
  cv::Point2d center;                        // grid centre in raw pixels, y downward
  cv::Point2d subGridRefPos[2][kLensTypes];  // [row class][lens type]: first lens centre

  // The 15-line grid report the program prints at start-up, lines ended by
  // '\n'.
  std::string microLensParameterReport() const;

  // Draws the grid over a copy of `image` (the raw frame, in raw-frame
  // coordinates; no border offset is added) and returns it, 3 channels of
  // `image`'s depth and size:
  //  - a blue cross, 2 pixels thick, through the image centre
  //    (round(W x 0.5), round(H x 0.5), ties to even);
  //  - one circle of `radius` per lens, red for type 0, green for type 1,
  //    blue for type 2, drawn in that type order, row by row, each at the x
  //    of lensCentre(*this, type, row, column) and the y of type 0's lens;
  //  - last, a red circle of `radius` around `center`.
  // Circles are 1 pixel thick with 4 fractional bits. A one-channel image is
  // spread to B = G = R; a colour image is drawn on as it is; a four-channel
  // one loses its alpha. An empty image gives an empty overlay.
  cv::Mat calibrationOverlay(const cv::Mat& image) const;
};

// The centre of lens `column` of lens type `type` in lens row `row`, in raw
// pixels: (diameter x 3.0) x column + subGridRefPos[row mod 2][type].x across,
// (radius x sqrt(3)) x row + subGridRefPos[0][type].y down. Every stage places
// its lenses from here; the products and sums are taken in this order, and
// callers add their own offsets afterwards, left to right, so that every place
// rounds the same way.
cv::Point2d lensCentre(const LensCalibration& calib, int type, int row, int column);

// Fills `calib` from the calibration XML file at `path`; only the width and
// height of `image` (the first raw frame) are used. Throws PlenoviewError naming
// the file and the key or value at fault when the file cannot be read, a value
// is missing or does not convert in full, a lens_type id is outside 0..2, the
// diameter is outside [6, 258), or a value or the grid it gives lies beyond
// the limits of calibration/calibration_limits.h (among them: the grid centre
// must lie inside the frame, at least a radius below its top edge).
void readCalibration(LensCalibration& calib, const cv::Mat& image, const std::string& path);

// The same for a frame of `frameSize`, for callers that hold no frame yet.
void readCalibration(LensCalibration& calib, cv::Size frameSize, const std::string& path);

}  // namespace plenoview
