#pragma once

#include "renderer/view_grid.h"

#include <vector>

namespace plenoview {

// Where the views of a run go. The frame loop writes views and asks what is
// already done only through this, so that a new output format (a video file
// per view) is one more implementation, not a change to the loop.
class ViewSink {
 public:
  virtual ~ViewSink() = default;

  // A frame's views arrive in groups: beginFrame(k), then writeViews for
  // each group until all N x N views are in (y outer, x inner across the
  // groups), then endFrame(). Only then is the frame complete: a rerun finds
  // it in completeFrames. writeViews throws PlenoviewError, one line naming
  // the file, when something cannot be written, and InterruptedError when
  // Ctrl-C or SIGTERM arrived while writing (not after the frame's last
  // view); what was written then stays, whole, for --resume to complete.
  // After any other failure of the frame (its rendering or its writing) the
  // caller calls abandonFrame, which makes sure nothing of the frame looks
  // like a result.
  virtual void beginFrame(int frameIndex) = 0;
  virtual void writeViews(const std::vector<FinishedView>& views) = 0;
  virtual void endFrame() = 0;
  virtual void abandonFrame() = 0;

  // Before anything is written, in every run: removes what runs killed while
  // writing frames first .. end-1 left behind, and returns how many
  // leftovers were removed, so that the view folder holds views only.
  // Leftovers of other frames are left alone: another run may be writing
  // them right now.
  virtual int removeLeftovers(int first, int end) = 0;

  // The frames of first .. end-1, ascending, whose views are all in place and
  // whole, so that a rerun can skip them. Nothing written yet: none.
  virtual std::vector<int> completeFrames(int first, int end) const = 0;
};

}  // namespace plenoview
