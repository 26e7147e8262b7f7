#pragma once

#include <opencv2/core.hpp>

namespace plenoview {

// Shifts a continuous 8-bit image by whole pixels, byte-wise: vacated bytes
// of a row take the row's first byte (shift right) or last byte (shift left);
// vacated rows repeat the first or last row; a shift of the whole width or
// height or more leaves only that byte or row. source and destination may be
// the same image. The alignment moves the outer lens types' views with it.
void shiftImage(const cv::Mat& source, cv::Mat& destination, cv::Point shift);

}  // namespace plenoview
