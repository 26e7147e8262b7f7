#include "driver/frame_range.h"

#include "driver/run_summary.h"

#include <algorithm>
#include <iostream>

namespace plenoview {

bool FrameRange::isComplete(int frameIndex) const {
  return std::binary_search(complete.begin(), complete.end(), frameIndex);
}

void prepareOutput(FrameRange& range, ViewSink& views, bool resume) {
  range.complete.clear();
  range.removedTemporaries = 0;
  if (range.end <= range.first) return;
  range.removedTemporaries = views.removeLeftovers(range.first, range.end);
  if (resume) range.complete = views.completeFrames(range.first, range.end);
}

void reportPreparedOutput(const FrameRange& range, bool resume) {
  if (range.removedTemporaries > 0) {
    std::cerr << (resume ? "resume: " : "plenoview: note: ") << "removed "
              << range.removedTemporaries << " temporary file(s) left by an interrupted run"
              << std::endl;
  }
  if (!range.complete.empty()) {
    std::cerr << "resume: skipping " << range.complete.size()
              << " frame(s) whose views all exist: " << describeFrames(range.complete) << std::endl;
  }
}

}  // namespace plenoview
