#include "driver/frame_prefetch.h"

#include <chrono>

namespace plenoview {

void FramePrefetch::start(int index) {
  settle();
  index_ = index;
  pending_ = std::async(std::launch::async, [this, index] { return frames_.read(index); });
}

bool FramePrefetch::ready(int index) const {
  return pending_.valid() && index_ == index &&
         pending_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

cv::Mat FramePrefetch::take(int index) {
  if (pending_.valid() && index_ == index) return pending_.get();
  settle();
  return frames_.read(index);
}

void FramePrefetch::settle() {
  if (!pending_.valid()) return;
  try {
    pending_.get();
  } catch (...) {
  }
}

}  // namespace plenoview
