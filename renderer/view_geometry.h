#pragma once

#include "calibration/lens_calibration.h"

#include <opencv2/core.hpp>

namespace plenoview {

// Rectangles that the alignment and the crop cut from rendered views. Both are
// placed by the even-row reference lens of the middle lens type, O = (ox, oy),
// and both are clamped to the view: no pixel outside a view is ever read.

// The part of a view of `viewSize` that the alignment compares: the rectangle
// spanned by round(O) and its mirror image (width - round(ox), height -
// round(oy)), rounded to nearest with ties to even, then cut to the view.
// Empty when nothing of it lies in the view.
cv::Rect alignmentRegion(const LensCalibration& calib, cv::Size viewSize);

// The crop of every finished view:
//
//   cw = 8 x trunc((width - 2 ox) x 0.125),  ch = 8 x trunc((height - 2 oy) x 0.125)
//   at (round(ox), round(oy)), rounded to nearest with ties to even.
//
// A rectangle that reaches outside the view (ox or oy negative) is cut to the
// view and then trimmed on the right and bottom to multiples of 8 again, so
// every crop keeps sides that are multiples of 8. Empty when nothing is left.
cv::Rect cropRectangle(const LensCalibration& calib, cv::Size viewSize);

// Refuses, at set-up, a calibration whose views would crop to nothing: throws
// PlenoviewError naming the diameter, the middle type's reference position
// and the view size.
void checkViewGeometry(const LensCalibration& calib, cv::Size viewSize);

}  // namespace plenoview
