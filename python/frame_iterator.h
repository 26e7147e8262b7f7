#pragma once

#include "io/frame_source.h"
#include "io/video_source.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>

namespace plenoview::python {

// What plenoview.frames iterates over: the frames of an image-file pattern or
// a lenslet video (.yuv, .y4m, "-" for standard input), read through the
// command line's own frame sources, with its checks and messages.
class FrameIterator {
 public:
  // `path` as the command line's ImagePath, `sizeText` ("WxH") and
  // `pixelFormat` as its --size and --pixel-format. Frames first .. first + count - 1,
  // or, without a count, every frame there is: up to the first frame whose
  // file does not exist (a pattern without a frame number is one frame), or
  // to the end of the video. Throws PlenoviewError with the command line's
  // text for a bad pattern, video options given with image files, a video
  // that cannot be opened or is malformed, and a range past its end.
  FrameIterator(std::string path, int first, std::optional<int> count,
                std::optional<std::string> sizeText, std::optional<std::string> pixelFormat);

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
  VideoFrameSource* video_ = nullptr;  // source_ when it is a video
  bool busy_ = false;                  // a read is under way (set and read with the GIL held)
};

}  // namespace plenoview::python
