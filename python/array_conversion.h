#pragma once

#include "renderer/view_grid.h"

#include <opencv2/core.hpp>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

namespace plenoview::python {

// A NumPy array whose shape or type no frame can have. The module turns it
// into plenoview.Error; a dtype that is not a sample type at all (bool,
// complex, object, ...) raises TypeError instead.
class ArrayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The OpenCV depth of a NumPy dtype that cv::imread could have produced:
// uint8, uint16, int8, int16, int32, float16, float32, float64 (either byte
// order). Throws pybind11::type_error naming the dtype otherwise.
int depthOfDtype(const pybind11::dtype& dtype);

// A frame as the pipeline takes it from cv::imread: shape (height, width)
// for one channel or (height, width, channels), channels in the array's
// order, any strides. The checks come first, from the shape alone, so that a
// broadcast array of absurd size is refused before anything is allocated:
// the dtype (depthOfDtype), the number of dimensions, an empty side, the
// channel count, then checkFrameImageSize against `expectedSize` with `name`
// and `index` in the message. The pixels are then copied into a continuous
// cv::Mat of the frame's own, which the caller may use without the GIL.
cv::Mat frameFromArray(const pybind11::array& array, const std::string& name, int index,
                       cv::Size expectedSize);

// Copies equally sized 8-bit images into one uint8 array: shape
// (leading..., height, width) for one channel, (leading..., height, width,
// channels) otherwise, images in row-major order of the leading indices.
// `images` holds the product of `leading` images. Throws ArrayError when the
// images differ in size or type, or are not 8-bit.
pybind11::array_t<std::uint8_t> stackImages(const std::vector<cv::Mat>& images,
                                            const std::vector<pybind11::ssize_t>& leading);

// A frame as cv2.imread gives it: (rows, cols) or (rows, cols, channels),
// the dtype of its depth, over the image's own memory (no copy), which the
// array keeps alive.
pybind11::array matToArray(cv::Mat image);

// One image as a uint8 array of its own: (rows, cols) or (rows, cols, channels).
pybind11::array_t<std::uint8_t> imageToArray(const cv::Mat& image);

// The N x N grid [x][y] flattened in the order stackImages expects, x outer.
std::vector<cv::Mat> flattenGrid(const ViewGrid& grid);

}  // namespace plenoview::python
