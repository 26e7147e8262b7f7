#pragma once

#include "driver/frame_console.h"
#include "driver/frame_loop_observer.h"
#include "driver/frame_prefetch.h"
#include "driver/frame_range.h"
#include "driver/frame_rendering.h"
#include "driver/group_writer.h"
#include "driver/progress_line.h"
#include "driver/run_summary.h"
#include "io/frame_source.h"
#include "io/patch_size_files.h"
#include "io/view_sink.h"
#include "renderer/view_grid.h"

#include <opencv2/core.hpp>

#include <chrono>
#include <vector>

namespace plenoview {

// How a FrameLoop runs, from the command line; the observer's hooks, when
// set, see each frame processed (not one skipped or only replayed).
struct FrameLoopSettings {
  int viewNum = 1;     // N: the view (N/2, N/2) is shown in the window "multiViewImage"
  bool warmUp = true;  // replay frame k - 1 before a frame k whose predecessor was not processed
  FrameLoopObserver observer;
  // --load-patch-sizes: each frame's patch sizes are read from here before
  // the frame is rendered, instead of estimated (no warm-up is then needed).
  const PatchSizeFiles* loadPatchSizes = nullptr;
  // --save-patch-sizes: each frame's patch sizes are written here as the
  // frame is completed, before the sink's endFrame.
  const PatchSizeFiles* savePatchSizes = nullptr;
};

// The frame loop: frames range.first .. range.end - 1, in order, except those
// in range.complete (--resume), which are skipped without a line on stdout.
// Each frame is read (the next one is read ahead meanwhile), rendered, and
// its views handed to the sink a group at a time: beginFrame(k) with the
// first group, endFrame() once every group is written. The groups are
// written on a thread of their own, and a frame's last groups are still
// being written while the next frame is read and estimated: that frame is
// the frame behind, completed (its writing waited for, endFrame, counted
// done in the summary, the progress line moved on) before the next frame's
// first group, before a frame that has not arrived yet, and before anything
// else ends the loop. Meanwhile the next frame's console output (its counter
// "frameCnt:%04d\r" and window lines, through `console`) is held back, so
// that stdout reads as if the frames ran one after another.
//
// With settings.loadPatchSizes a frame's sizes are read before it is
// rendered; a file that cannot be used fails the frame before anything of it
// is written. With settings.savePatchSizes they are written when the frame
// is completed; a write that fails fails the frame.
//
// Before a frame whose predecessor this run did not process (the range's
// first frame unless it is 0, a frame after skipped ones), that predecessor
// is read and replayed (settings.warmUp); when it cannot be read, one line on
// stderr says so and the frame goes on without.
//
// Failures: the first error ends the loop and is thrown once the frame
// behind is complete. A failed frame is abandoned (ViewSink::abandonFrame)
// and counted failed. When the frame behind fails to complete, its error is
// the one thrown, it alone is counted failed, and the next frame's held
// output is dropped. Ctrl-C or SIGTERM
// (base/interrupt.h) is looked at before each frame and after its warm-up: it
// ends the loop with InterruptedError after the frame behind is complete, and
// counts nothing failed.
//
// Keys (no key without windows): one look right after a frame is rendered,
// 'v' opens the inspection once the frame's views are written; one look after
// the centre view is shown in its window, 'q' ends the loop once the frame is
// complete. Other keys are dropped.
class FrameLoop {
 public:
  FrameLoop(FrameSource& frames, ViewSink& views, const FrameRange& range, FrameConsole& console,
            RunSummary& summary, FrameRendering rendering, FrameLoopSettings settings);
  FrameLoop(const FrameLoop&) = delete;
  FrameLoop& operator=(const FrameLoop&) = delete;

  // Runs the loop once; counts into the summary's done, skipped and failed
  // and adds the time of each frame done to its frameSeconds.
  void run();

 private:
  using Clock = std::chrono::steady_clock;

  // Frame k, from the interrupt check to its hand-over as the frame behind;
  // false when 'q' ends the loop after it.
  bool runFrame(int k);
  // Ctrl-C, the warm-up, the counter, the frame read; starts reading k + 1
  // when `hasNext`.
  cv::Mat beginFrame(int k, bool hasNext);
  void warmUpBefore(int k);
  // One group of frame k to the writer; the first completes the frame behind
  // and begins frame k in the sink.
  void handOver(int k, const std::vector<FinishedView>& group);
  // After frame k's last group: the keys, the inspection, the window; frame
  // k becomes the frame behind, completed now when it is the last or 'q'
  // was pressed. Returns whether 'q' was.
  bool finishFrame(int k, bool hasNext, Clock::time_point start);
  // Completes the frame behind, if any (see the class comment).
  void completePending();
  // After an error in frame k: completes the frame behind unless it is k
  // itself, and waits for k's writing, dropping its error.
  void settleFrame(int k);
  // The same, and frame k is abandoned and counted failed.
  void failFrame(int k);
  void stepDone(const char* step) const;

  // Set at construction, for the loop's life.
  FrameSource& frames_;
  ViewSink& views_;
  const FrameRange range_;
  FrameConsole& console_;
  RunSummary& summary_;
  const FrameRendering rendering_;
  const FrameLoopSettings settings_;
  const cv::Point centre_;  // the centre view's place in the grid

  // The helpers, for the loop's life; the writer, last, goes first, dropping
  // groups still queued when an error ends the loop.
  FramePrefetch prefetch_;
  ProgressLine progress_;
  GroupWriter writer_;

  // Carried from frame to frame.
  bool previousProcessed_ = false;  // frame k - 1 was processed by this run
  cv::Mat centreView_;              // the last finished centre view, for its window
  // The frame behind: active from the end of its rendering until it is
  // complete; `frame` stays after that.
  struct Pending {
    bool active = false;
    int frame = -1;
    double seconds = 0.0;   // its own time in the loop
    PatchSizes patchSizes;  // with settings.savePatchSizes: what it was rendered with
  } pending_;
  bool completionFailed_ = false;  // the frame behind failed, was abandoned and counted

  // The frame in hand, reset when it is read: the sink's beginFrame was
  // called for it.
  bool begun_ = false;
};

}  // namespace plenoview
