#include "driver/frame_range.h"

#include <algorithm>

namespace plenoview {

bool FrameRange::isComplete(int frameIndex) const {
  return std::binary_search(complete.begin(), complete.end(), frameIndex);
}

void resumeFrames(FrameRange& range, ViewSink& views) {
  range.complete.clear();
  range.removedTemporaries = 0;
  if (range.end <= range.first) return;
  range.removedTemporaries = views.removeLeftovers(range.first, range.end);
  range.complete = views.completeFrames(range.first, range.end);
}

}  // namespace plenoview
