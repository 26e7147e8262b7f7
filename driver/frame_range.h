#pragma once

#include <string>
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

// Looks in `folder` (the Result folder) for frames of `range` whose viewNum x
// viewNum views are all whole PNG files and lists them in range.complete.
// Also removes the temporary files of the range's frames that a killed run
// left. A missing folder means nothing is complete.
void resumeFrames(FrameRange& range, const std::string& folder, int viewNum);

}  // namespace plenoview
