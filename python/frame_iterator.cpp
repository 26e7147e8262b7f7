#include "python/frame_iterator.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "python/array_conversion.h"

#include <climits>
#include <filesystem>
#include <utility>

namespace py = pybind11;

namespace plenoview::python {

FrameIterator::FrameIterator(std::string path, int first, std::optional<int> count,
                             std::optional<std::pair<int, int>> size,
                             std::optional<std::string> pixelFormat)
    : pattern_(std::move(path)), first_(first), next_(first) {
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
  source_ = openFrameSource(pattern_);
}

py::object FrameIterator::next() {
  if (end_ ? next_ >= *end_ : !numbered_ && next_ > first_) throw py::stop_iteration();
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
    frame = source_->read(next_);
  } catch (...) {
    busy_ = false;  // the GIL is held again here
    throw;
  }
  busy_ = false;
  ++next_;
  return matToArray(std::move(frame));
}

}  // namespace plenoview::python
