#pragma once

#include "io/view_sink.h"

#include <vector>

namespace plenoview {

// The frames one run is asked for, first .. end-1 (none when end <= first),
// and which of them a rerun with --resume can skip.
struct FrameRange {
  int first = 0;
  int end = 0;
  std::vector<int> complete;   // ascending: frames whose views all exist already
  int removedTemporaries = 0;  // leftovers of killed runs removed by resumeFrames

  bool isComplete(int frameIndex) const;
};

// Asks `views` which frames of `range` are complete and lists them in
// range.complete, after it removed the leftovers of killed runs within the
// range (counted in range.removedTemporaries). An empty range asks nothing.
void resumeFrames(FrameRange& range, ViewSink& views);

// What resumeFrames found, on stderr: a line for the leftovers removed and a
// line for the frames skipped, each only when there are any.
void reportResume(const FrameRange& range);

}  // namespace plenoview
