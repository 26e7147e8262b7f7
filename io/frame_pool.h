#pragma once

#include <opencv2/core.hpp>

namespace plenoview {

// Images a frame source decodes into, reused from frame to frame so that the
// steady state touches no new memory. The frame loop holds the frame it
// renders while the next one is read, so two images take turns; a third
// comes fresh only when a caller holds on to both.
class FramePool {
 public:
  // An image no one outside the pool holds: its pixels may be overwritten,
  // and writing a frame of the same size and type into it allocates
  // nothing. The reference is valid until the next call.
  //
  // The holders' count may drop on another thread while it is read here;
  // it never rises there (only this thread hands out pool images), so a
  // stale count only makes an image look held and costs an allocation.
  cv::Mat& take() {
    for (cv::Mat& image : images_) {
      if (image.empty() || (image.u != nullptr && image.u->refcount == 1)) return image;
    }
    spare_.release();
    return spare_;
  }

 private:
  cv::Mat images_[2];
  cv::Mat spare_;
};

}  // namespace plenoview
