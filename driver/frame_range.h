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
  int removedTemporaries = 0;  // leftovers of killed runs removed by prepareOutput

  bool isComplete(int frameIndex) const;
};

// Before the first frame of every run: removes the leftovers of killed runs
// within the range (counted in range.removedTemporaries), so that the view
// folder holds views only, and, with `resume`, asks `views` which frames of
// the range are complete and lists them in range.complete. An empty range
// asks nothing.
void prepareOutput(FrameRange& range, ViewSink& views, bool resume);

// What prepareOutput found, on stderr: a line for the leftovers removed and,
// with `resume`, a line for the frames skipped, each only when there are any.
void reportPreparedOutput(const FrameRange& range, bool resume);

}  // namespace plenoview
