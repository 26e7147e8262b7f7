#pragma once

#include "io/frame_source.h"

#include <opencv2/core.hpp>

#include <future>

namespace plenoview {

// Reads the next frame on a thread of its own while the current one is
// rendered: decoding a frame keeps one core busy, which the rendering's
// serial parts would otherwise leave the other core waiting for. One frame
// ahead at most. Frames are still read in the order the loop asks for them.
class FramePrefetch {
 public:
  explicit FramePrefetch(FrameSource& frames) : frames_(frames) {}
  ~FramePrefetch() { settle(); }
  FramePrefetch(const FramePrefetch&) = delete;
  FramePrefetch& operator=(const FramePrefetch&) = delete;

  // Starts reading frame `index`.
  void start(int index);

  // Whether frame `index` is read ahead and has arrived.
  bool ready(int index) const;

  // Frame `index`: the one read ahead when it is that frame, read now
  // otherwise. A frame read ahead that cannot be read throws here, where its
  // own read would have thrown, after the frames before it are complete.
  cv::Mat take(int index);

 private:
  // Waits for a read in flight and drops its frame or error: the loop ended
  // before it needed that frame.
  void settle();

  FrameSource& frames_;
  int index_ = -1;
  std::future<cv::Mat> pending_;
};

}  // namespace plenoview
