#pragma once

#include "base/line_sink.h"

#include <opencv2/core.hpp>

namespace plenoview {

// True when `window` lies wholly inside an image of `imageSize` (touching the
// right or bottom edge counts as inside). Otherwise passes the line
//
//   Out of Roi Range: (W,H) -> [w x h from (x, y)]
//
// to `report` and returns false. The stages skip or blank what such a window
// would have covered; the line tells the user where the grid left the image.
bool checkRoiRange(cv::Size imageSize, const cv::Rect& window, const LineSink& report);

// The same test against `image` (only its size is read).
bool checkRoiRange(const cv::Mat& image, const cv::Rect& window, const LineSink& report);

}  // namespace plenoview
