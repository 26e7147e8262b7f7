#include "python/array_conversion.h"

#include "io/frame_checks.h"

#include <climits>
#include <cstring>
#include <memory>
#include <sstream>

namespace py = pybind11;

namespace plenoview::python {

namespace {

std::string shapeText(const py::array& array) {
  std::ostringstream text;
  text << "(";
  for (py::ssize_t d = 0; d < array.ndim(); ++d) {
    text << (d > 0 ? ", " : "") << array.shape(d);
  }
  text << (array.ndim() == 1 ? ",)" : ")");
  return text.str();
}

}  // namespace

int depthOfDtype(const py::dtype& dtype) {
  const char kind = dtype.kind();
  const py::ssize_t size = dtype.itemsize();
  if (kind == 'u' && size == 1) return CV_8U;
  if (kind == 'u' && size == 2) return CV_16U;
  if (kind == 'i' && size == 1) return CV_8S;
  if (kind == 'i' && size == 2) return CV_16S;
  if (kind == 'i' && size == 4) return CV_32S;
  if (kind == 'f' && size == 2) return CV_16F;
  if (kind == 'f' && size == 4) return CV_32F;
  if (kind == 'f' && size == 8) return CV_64F;
  throw py::type_error("a frame of dtype " +
                       py::str(static_cast<const py::handle&>(dtype)).cast<std::string>() +
                       " is not supported: use uint8, uint16, int8, int16, int32, float16, "
                       "float32 or float64");
}

cv::Mat frameFromArray(const py::array& array, const std::string& name, int index,
                       cv::Size expectedSize) {
  const int depth = depthOfDtype(array.dtype());
  const py::ssize_t dims = array.ndim();
  if (dims != 2 && dims != 3) {
    throw ArrayError(
        "a frame is a 2-D (height, width) or 3-D (height, width, channels) array, "
        "not an array of shape " +
        shapeText(array));
  }
  if (array.size() == 0) throw ArrayError("the frame of shape " + shapeText(array) + " is empty");
  const py::ssize_t rows = array.shape(0);
  const py::ssize_t cols = array.shape(1);
  const py::ssize_t channels = dims == 3 ? array.shape(2) : 1;
  if (channels > CV_CN_MAX) {
    throw ArrayError("the frame of shape " + shapeText(array) + " has " + std::to_string(channels) +
                     " channels; at most " + std::to_string(CV_CN_MAX) + " are supported");
  }
  if (rows > INT_MAX || cols > INT_MAX) {
    throw ArrayError("the frame of shape " + shapeText(array) + " is beyond 65535 pixels per side");
  }
  checkFrameImageSize(cv::Size(static_cast<int>(cols), static_cast<int>(rows)), name, index,
                      expectedSize);

  // NumPy makes the samples continuous and native-endian (a copy only when
  // they are not); OpenCV then takes its own copy, so that nothing the
  // caller does to the array while the GIL is released reaches the frame.
  const py::module_ numpy = py::module_::import("numpy");
  const py::array continuous =
      numpy.attr("ascontiguousarray")(array, array.dtype().attr("newbyteorder")("="));
  const cv::Mat view(static_cast<int>(rows), static_cast<int>(cols),
                     CV_MAKETYPE(depth, static_cast<int>(channels)),
                     const_cast<void*>(continuous.data()));
  return view.clone();
}

std::vector<cv::Mat> flattenGrid(const ViewGrid& grid) {
  std::vector<cv::Mat> images;
  for (const std::vector<cv::Mat>& column : grid) {
    images.insert(images.end(), column.begin(), column.end());
  }
  return images;
}

py::array_t<std::uint8_t> stackImages(const std::vector<cv::Mat>& images,
                                      const std::vector<py::ssize_t>& leading) {
  py::ssize_t count = 1;
  for (const py::ssize_t n : leading) count *= n;
  if (images.empty() || static_cast<py::ssize_t>(images.size()) != count) {
    throw ArrayError("internal: " + std::to_string(images.size()) + " images for " +
                     std::to_string(count) + " places");
  }
  const cv::Mat& first = images.front();
  for (const cv::Mat& image : images) {
    if (image.depth() != CV_8U || image.size() != first.size() || image.type() != first.type()) {
      throw ArrayError("internal: images of different sizes or types");
    }
  }
  std::vector<py::ssize_t> shape = leading;
  shape.push_back(first.rows);
  shape.push_back(first.cols);
  if (first.channels() > 1) shape.push_back(first.channels());
  py::array_t<std::uint8_t> out(shape);
  const size_t rowBytes = static_cast<size_t>(first.cols) * first.elemSize();
  std::uint8_t* at = out.mutable_data();
  for (const cv::Mat& image : images) {
    for (int r = 0; r < image.rows; ++r) {
      std::memcpy(at, image.ptr(r), rowBytes);
      at += rowBytes;
    }
  }
  return out;
}

py::array matToArray(cv::Mat image) {
  static const char* const kDtypes[] = {"uint8", "int8",    "uint16",  "int16",
                                        "int32", "float32", "float64", "float16"};
  const py::dtype dtype(kDtypes[image.depth()]);
  std::vector<py::ssize_t> shape{image.rows, image.cols};
  std::vector<py::ssize_t> strides{static_cast<py::ssize_t>(image.step[0]),
                                   static_cast<py::ssize_t>(image.elemSize())};
  if (image.channels() > 1) {
    shape.push_back(image.channels());
    strides.push_back(static_cast<py::ssize_t>(image.elemSize1()));
  }
  auto owner = std::make_unique<cv::Mat>(std::move(image));
  void* const data = owner->data;
  const py::capsule base(owner.get(), [](void* p) { delete static_cast<cv::Mat*>(p); });
  owner.release();
  return py::array(dtype, shape, strides, data, base);
}

py::array_t<std::uint8_t> imageToArray(const cv::Mat& image) { return stackImages({image}, {}); }

}  // namespace plenoview::python
