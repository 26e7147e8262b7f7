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
                             std::optional<std::string> sizeText,
                             std::optional<std::string> pixelFormat)
    : pattern_(std::move(path)), first_(first), next_(first) {
  checkFramePattern(pattern_);
  if (sizeText && sizeText->empty()) throw PlenoviewError("size must give a size WIDTHxHEIGHT");
  if (pixelFormat && *pixelFormat != "yuv420p" && *pixelFormat != "yuv420p10le") {
    throw PlenoviewError("pixel_format must be yuv420p or yuv420p10le, not \"" + *pixelFormat +
                         "\"");
  }
  if ((sizeText || pixelFormat) && !isVideoPath(pattern_)) {
    throw PlenoviewError(std::string(sizeText ? "size" : "pixel_format") +
                         " applies to a video ImagePath (.yuv, .y4m or -), not to \"" + pattern_ +
                         "\"");
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
  // A video is opened here, its header or size read; a stream waits for its
  // header meanwhile, as the command line does.
  {
    const py::gil_scoped_release release;
    source_ =
        openFrameSource(pattern_, RawVideoOptions{sizeText.value_or(""), pixelFormat.value_or("")});
  }
  video_ = dynamic_cast<VideoFrameSource*>(source_.get());
  if (end_) source_->checkRange(first_, *end_);
}

py::object FrameIterator::next() {
  if (end_ && next_ >= *end_) throw py::stop_iteration();
  // Without a count image files end before the first frame whose file is
  // not there; anything else wrong with a frame is an error, as it is for
  // the command line.
  if (!end_ && !video_) {
    if (numbered_ ? !std::filesystem::exists(formatPath(pattern_, next_)) : next_ > first_) {
      throw py::stop_iteration();
    }
  }
  // The read runs without the GIL; another thread calling next() meanwhile
  // is refused, as a running generator refuses it.
  if (busy_) throw py::value_error("the frames iterator is already reading a frame");
  cv::Mat frame;
  bool ended = false;
  busy_ = true;
  try {
    const py::gil_scoped_release release;
    // Asking a stream whether it ends waits for its next byte.
    ended = !end_ && video_ && video_->endsBefore(next_);
    if (!ended) frame = source_->read(next_);
  } catch (...) {
    busy_ = false;  // the GIL is held again here
    throw;
  }
  busy_ = false;
  if (ended) throw py::stop_iteration();
  ++next_;
  return matToArray(std::move(frame));
}

}  // namespace plenoview::python
