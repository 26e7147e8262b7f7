#pragma once

#include <string>
#include <vector>

namespace plenoview {

// What a run did with its frame range, for the closing line on stderr.
struct RunSummary {
  bool loopReached = false;  // the run got as far as the frame loop
  int done = 0;              // frames read, rendered and saved
  int skipped = 0;           // frames --resume found complete
  int failed = 0;            // frames that ended in an error
  double wallSeconds = 0;    // from the start of the program
  double frameSeconds = 0;   // spent on the frames done, read to last file
};

// "summary: 8 frames done, 0 skipped, 0 failed in 12.3 s (1.54 s/frame)":
// one decimal for the wall time, two for the mean time per frame done; the
// part in brackets is left out when no frame was done, and "1 frame done"
// is singular. No newline.
std::string formatSummary(const RunSummary& summary);

// The ascending frame indices `frames` as ranges: "0-179, 200, 250-260".
// After `maxRanges` ranges the rest is given as ", ..." .
std::string describeFrames(const std::vector<int>& frames, int maxRanges = 8);

}  // namespace plenoview
