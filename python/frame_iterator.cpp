#include "python/frame_iterator.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "io/frame_checks.h"
#include "python/array_conversion.h"

#include <opencv2/imgcodecs.hpp>

#include <climits>
#include <filesystem>

namespace py = pybind11;

namespace plenoview::python {

namespace {

// Frame `index` of `pattern` as the command line reads it. `firstSize`, when
// not empty, is the size every later frame must have.
cv::Mat readImageFrame(const std::string& pattern, int index, cv::Size firstSize) {
  const std::string path = formatPath(pattern, index);
  checkFrameFile(path, index);
  cv::Mat frame;
  try {
    // The decoder would also log a warning of its own for a missing file,
    // through OpenCV's process-wide log, which the module leaves as it is.
    std::error_code error;
    if (std::filesystem::exists(path, error)) frame = cv::imread(path, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception& e) {
    throw PlenoviewError("frame " + std::to_string(index) + ": cannot read \"" + path +
                         "\": " + e.err);
  }
  if (frame.empty()) {
    throw PlenoviewError("frame " + std::to_string(index) + ": cannot read \"" + path +
                         "\" (missing, empty or not an image)");
  }
  checkFrameImage(frame, path, index, firstSize);
  return frame;
}

}  // namespace

FrameIterator::FrameIterator(std::string path, int first, std::optional<int> count,
                             std::optional<std::pair<int, int>> size,
                             std::optional<std::string> pixelFormat)
    : pattern_(std::move(path)), next_(first) {
  checkFramePattern(pattern_);
  if (size || pixelFormat) {
    throw PlenoviewError(std::string(size ? "size" : "pixel_format") +
                         " applies to a raw video, not to the image files \"" + pattern_ + "\"");
  }
  if (first < 0)
    throw PlenoviewError("first_frame must be at least 0, not " + std::to_string(first));
  if (count) {
    if (*count < 0) throw PlenoviewError("count must be at least 0, not " + std::to_string(*count));
    if (*count > INT_MAX - first) {
      throw PlenoviewError("first_frame + count must be at most " + std::to_string(INT_MAX));
    }
    end_ = first + *count;
  }
  numbered_ = formatPath(pattern_, 0) != formatPath(pattern_, 1);
}

py::object FrameIterator::next() {
  if (end_ ? next_ >= *end_ : !numbered_ && !firstSize_.empty()) throw py::stop_iteration();
  // Without a count the sequence ends before the first frame whose file is
  // not there; anything else wrong with a frame is an error, as it is for
  // the command line.
  if (!end_ && !std::filesystem::exists(formatPath(pattern_, next_))) throw py::stop_iteration();
  // The read runs without the GIL; another thread calling next() meanwhile
  // is refused, as a running generator refuses it.
  if (busy_) throw py::value_error("the frames iterator is already reading a frame");
  cv::Mat frame;
  busy_ = true;
  try {
    const py::gil_scoped_release release;
    frame = readImageFrame(pattern_, next_, firstSize_);
  } catch (...) {
    busy_ = false;  // the GIL is held again here
    throw;
  }
  busy_ = false;
  if (firstSize_.empty()) firstSize_ = frame.size();
  ++next_;
  return matToArray(std::move(frame));
}

}  // namespace plenoview::python
