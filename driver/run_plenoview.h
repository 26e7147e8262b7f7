#pragma once

#include <functional>

namespace plenoview {

// Hooks into the frame loop for a caller that measures it (the benchmark),
// called on the loop's thread. Either may be left empty.
struct FrameLoopObserver {
  // Frame `frameIndex` is about to be read (after its warm-up, if any).
  std::function<void(int frameIndex)> frameStarted;
  // A step of the current frame has ended: "read", then the renderer's steps
  // (MultiViewRenderer::stepDone), then "saveViews" once the views are
  // written and let go.
  std::function<void(const char* step)> stepDone;
};

// The whole program: parses the command line, reads the calibration, runs the
// frame loop. Returns the exit status; errors reach stderr as one line
// "plenoview: <message>".
int runPlenoview(int argc, const char* const* argv, const FrameLoopObserver& observer = {});

}  // namespace plenoview
