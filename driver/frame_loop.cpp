#include "driver/frame_loop.h"

#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "windows/display.h"

#include <algorithm>
#include <iostream>
#include <utility>

namespace plenoview {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int framesToRun(const FrameRange& range) {
  return std::max(0, range.end - range.first) - static_cast<int>(range.complete.size());
}

}  // namespace

FrameLoop::FrameLoop(FrameSource& frames, ViewSink& views, const FrameRange& range,
                     FrameConsole& console, RunSummary& summary, FrameRendering rendering,
                     FrameLoopSettings settings)
    : frames_(frames),
      views_(views),
      range_(range),
      console_(console),
      summary_(summary),
      rendering_(std::move(rendering)),
      settings_(std::move(settings)),
      centre_(settings_.viewNum / 2, settings_.viewNum / 2),
      prefetch_(frames),
      progress_(framesToRun(range)),
      // The renderer keeps a group's views until kGroupSets - 1 groups after
      // it are handed over.
      writer_(views, kGroupSets - 1) {}

void FrameLoop::run() {
  for (int k = range_.first; k < range_.end; ++k) {
    // Skipped frames print no counter line, so that stdout is that of a run
    // over the remaining frames alone.
    if (range_.isComplete(k)) {
      ++summary_.skipped;
      previousProcessed_ = false;
      continue;
    }
    if (!runFrame(k)) break;
  }
  completePending();
}

bool FrameLoop::runFrame(int k) {
  const Clock::time_point start = Clock::now();
  const bool hasNext = k + 1 < range_.end && !range_.isComplete(k + 1);
  try {
    cv::Mat frame = beginFrame(k, hasNext);
    PatchSizes given;
    if (settings_.loadPatchSizes != nullptr) given = settings_.loadPatchSizes->load(k);
    // Handed over: the renderer lets go of the frame once it has its own
    // rotated copy.
    rendering_.render(std::move(frame), settings_.loadPatchSizes != nullptr ? &given : nullptr,
                      [this, k](const std::vector<FinishedView>& group) { handOver(k, group); });
    const bool quit = finishFrame(k, hasNext, start);
    stepDone("saveViews");
    previousProcessed_ = true;
    return !quit;
  } catch (const InterruptedError&) {
    settleFrame(k);
    throw;
  } catch (...) {
    if (completionFailed_) throw;  // counted and abandoned already
    failFrame(k);
    throw;
  }
}

cv::Mat FrameLoop::beginFrame(int k, bool hasNext) {
  stopIfInterrupted(k);
  if (settings_.warmUp && settings_.loadPatchSizes == nullptr && k > 0 && !previousProcessed_) {
    progress_.clear();  // the replay may have a line to say
    warmUpBefore(k);
    stopIfInterrupted(k);
  }
  if (pending_.active) console_.hold();
  console_.counter(k);
  if (settings_.observer.frameStarted) settings_.observer.frameStarted(k);
  // A frame that has not arrived yet (a stream that waits for its source)
  // does not keep the frame before from being complete.
  if (!prefetch_.ready(k)) completePending();
  cv::Mat frame = prefetch_.take(k);
  stepDone("read");
  if (hasNext) prefetch_.start(k + 1);
  begun_ = false;
  return frame;
}

// A frame that cannot be read here is no error (a chunk's machine may hold
// only its own frames): the run goes on without the replay.
void FrameLoop::warmUpBefore(int k) {
  cv::Mat previous;
  try {
    previous = frames_.read(k - 1);
  } catch (const PlenoviewError& e) {
    std::cerr << "warm-up: " << e.what() << "; frame " << k << " goes on without the replay"
              << std::endl;
    return;
  }
  rendering_.warmUp(previous);
}

void FrameLoop::handOver(int k, const std::vector<FinishedView>& group) {
  // Begun with the first group, after the frame's window lines, so that an
  // output folder that cannot be made is reported after them.
  if (!begun_) {
    completePending();
    views_.beginFrame(k);
    begun_ = true;
  }
  for (const FinishedView& finished : group) {
    if (finished.place == centre_ && windowsEnabled()) finished.view.copyTo(centreView_);
  }
  writer_.write(group);
}

bool FrameLoop::finishFrame(int k, bool hasNext, Clock::time_point start) {
  // One look at the keys right after rendering: 'v' opens the inspection
  // once the frame's views are written; any other key taken here is dropped
  // ('q' is looked for once the frame is shown).
  const bool inspect = pollKey(1) == kInspectKey;
  pending_ = Pending{true, k, secondsSince(start), {}};
  if (settings_.savePatchSizes != nullptr) pending_.patchSizes = rendering_.patchSizes();
  if (inspect) {
    completePending();
    rendering_.inspect();
  }
  showImage("multiViewImage", centreView_);
  const bool quit = pollKey(1) == kQuitKey;
  // Its views all written, the frame is finished even when Ctrl-C comes
  // meanwhile: the loop stops before the next frame instead.
  if (quit || !hasNext) completePending();
  return quit;
}

// When its writing failed, the frame behind's error is the run's: the frame
// is abandoned and the next frame's output dropped.
void FrameLoop::completePending() {
  if (!pending_.active) return;
  pending_.active = false;
  try {
    writer_.finish();
    if (settings_.savePatchSizes != nullptr) {
      settings_.savePatchSizes->save(pending_.frame, pending_.patchSizes);
    }
  } catch (const InterruptedError&) {
    console_.drop();
    throw;
  } catch (...) {
    console_.drop();
    views_.abandonFrame();
    ++summary_.failed;
    completionFailed_ = true;
    throw;
  }
  views_.endFrame();
  ++summary_.done;
  summary_.frameSeconds += pending_.seconds;
  progress_.frameDone(summary_.frameSeconds);
  console_.release();
}

void FrameLoop::settleFrame(int k) {
  // The frame before is completed first: an error of its own comes first.
  if (pending_.frame != k) completePending();
  pending_.active = false;
  writer_.settle();
}

void FrameLoop::failFrame(int k) {
  settleFrame(k);
  views_.abandonFrame();
  ++summary_.failed;
}

void FrameLoop::stepDone(const char* step) const {
  if (settings_.observer.stepDone) settings_.observer.stepDone(step);
}

}  // namespace plenoview
