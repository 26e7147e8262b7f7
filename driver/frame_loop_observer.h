#pragma once

#include <functional>

namespace plenoview {

// Hooks into the frame loop for a caller that measures it (the benchmark),
// called on the loop's thread. Either may be left empty.
struct FrameLoopObserver {
  // Frame `frameIndex` is about to be read (after its warm-up, if any).
  std::function<void(int frameIndex)> frameStarted;
  // A step of the current frame has ended: "read", then the pipeline's steps
  // (RendererOptions::stepDone: the rendering's steps once for the centre
  // views, then for every group of views), then "saveViews" once the last
  // group is handed over. The views are written while the next group is made,
  // and a frame's last group while the next frame begins, so a step's time
  // includes some of that writing; the last frame's "saveViews" comes once
  // its views are all written.
  std::function<void(const char* step)> stepDone;
};

}  // namespace plenoview
