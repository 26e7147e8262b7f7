#pragma once

#include "io/frame_source.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace plenoview::python {

// What plenoview.frames iterates over: the frames of an image-file pattern,
// read through the command line's own frame source (header check, decode
// with depth and channels unchanged, every frame the size of the first).
class FrameIterator {
 public:
  // `path` as the command line's ImagePath; frames first .. first + count - 1,
  // or, without a count, up to the first frame whose file does not exist (a
  // path without a frame number is one frame). Throws PlenoviewError with the
  // command line's text for a bad pattern, and for `size` or `pixelFormat`,
  // which only a raw video needs.
  FrameIterator(std::string path, int first, std::optional<int> count,
                std::optional<std::pair<int, int>> size, std::optional<std::string> pixelFormat);

  // The next frame, read without the GIL, as a NumPy array; py::stop_iteration
  // after the last.
  pybind11::object next();

  int nextIndex() const { return next_; }

 private:
  std::string pattern_;
  bool numbered_ = true;  // the pattern holds an integer conversion
  int first_ = 0;
  int next_ = 0;
  std::optional<int> end_;  // one past the last frame; open without a count
  std::unique_ptr<FrameSource> source_;
  bool busy_ = false;  // a read is under way (set and read with the GIL held)
};

}  // namespace plenoview::python
