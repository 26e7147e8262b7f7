#pragma once

#include "renderer/multi_view_renderer.h"

#include <vector>

namespace plenoview {

// Where the views of a run go. The frame loop writes views and asks what is
// already done only through this, so that a new output format (a video file
// per view) is one more implementation, not a change to the loop.
class ViewSink {
 public:
  virtual ~ViewSink() = default;

  // Writes the views of frame `frameIndex`, viewGrid[view x][view y], N x N
  // as the sink was made for. Once it returns the frame is complete: a rerun
  // finds it in completeFrames. Throws PlenoviewError, one line naming the
  // file, when something cannot be written; what this call wrote of the
  // frame before is then removed again, so that no partial frame looks like a
  // result. Throws InterruptedError when Ctrl-C or SIGTERM arrived while
  // writing (not after the frame's last view); what was written stays, whole,
  // for --resume to complete.
  virtual void write(const ViewGrid& viewGrid, int frameIndex) = 0;

  // For --resume, before anything is written: removes what runs killed while
  // writing frames first .. end-1 left behind, and returns how many
  // leftovers were removed. Leftovers of other frames are left alone: another
  // run may be writing them right now.
  virtual int removeLeftovers(int first, int end) = 0;

  // The frames of first .. end-1, ascending, whose views are all in place and
  // whole, so that a rerun can skip them. Nothing written yet: none.
  virtual std::vector<int> completeFrames(int first, int end) const = 0;
};

}  // namespace plenoview
