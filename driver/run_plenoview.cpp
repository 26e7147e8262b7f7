#include "driver/run_plenoview.h"

#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "calibration/lens_calibration.h"
#include "driver/command_line.h"
#include "driver/frame_console.h"
#include "driver/frame_prefetch.h"
#include "driver/frame_range.h"
#include "driver/group_writer.h"
#include "driver/open_view_sink.h"
#include "driver/print_lines.h"
#include "driver/progress_line.h"
#include "driver/run_summary.h"
#include "driver/warm_up.h"
#include "io/frame_source.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/render_limits.h"
#include "renderer/view_geometry.h"
#include "windows/display.h"
#include "windows/show_inspection.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/core/utils/logger.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace plenoview {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Replays the estimation of frame k - 1 before frame k when this run did not
// process k - 1 itself. A frame that cannot be read here is no error (a
// chunk's machine may hold only its own frames): the run goes on without.
void warmUpBefore(MultiViewRenderer& renderer, FrameSource& frames, int k) {
  cv::Mat previous;
  try {
    previous = frames.read(k - 1);
  } catch (const PlenoviewError& e) {
    std::cerr << "warm-up: " << e.what() << "; frame " << k << " goes on without the replay"
              << std::endl;
    return;
  }
  warmUpPatchSizes(renderer, previous);
}

int run(const CommandLine& line, const FrameLoopObserver& observer, RunSummary& summary) {
  std::cout << "CalibPath: " << line.calibPath << std::endl;
  std::cout << "ImagePath: " << line.imagePattern << std::endl;
  std::cout << "ImageNum: " << line.imageNumText << std::endl;
  std::cout << "ViewNum: " << line.viewNumText << std::endl;

  // With --no-window the display is not even asked.
  std::string noDisplay;
  const bool display = line.showWindows && displayAvailable(&noDisplay);
  setWindowsEnabled(display, line.showWindows ? noDisplay : "");

  // The first frame of the range is read first, for its size, so that a wrong
  // pattern is reported before the calibration. It is frame 0 unless
  // --first-frame says otherwise: a machine that runs one chunk of a sequence
  // may not hold frame 0.
  FrameRange range;
  range.first = line.firstFrame;
  range.end = line.imageNum;
  const std::unique_ptr<FrameSource> frames =
      openFrameSource(line.imagePattern, RawVideoOptions{line.sizeText, line.pixelFormat});
  frames->checkRange(range.first, range.end);
  cv::Mat frame = frames->read(range.first);
  const int N = line.viewNum;

  LensCalibration calib;
  readCalibration(calib, frame, line.calibPath);
  printLines(calib.microLensParameterReport());
  RendererOptions options;
  options.buildAllScaleLevels = line.allScaleLevels;
  FrameConsole console;
  options.outOfRangeLines = [&console](const std::string& text) { console.line(text); };
  options.stepDone = observer.stepDone;
  MultiViewRenderer renderer(calib, N, std::move(options));
  const cv::Size firstSize = frame.size();
  // Refused before any frame is rendered; a run without frames plans nothing.
  if (range.first < range.end) {
    checkRenderLimits(renderer, firstSize, frame.channels() >= 3, line.calibPath);
  }
  if (line.threads > 0) cv::setNumThreads(line.threads);
  // Views that would crop to nothing are refused before the first frame,
  // rather than written as empty files.
  checkViewGeometry(renderer.calib, renderer.viewSize);

  const std::unique_ptr<ViewSink> views = openViewSink(line, N);
  summary.loopReached = true;
  if (line.resume) {
    resumeFrames(range, *views);
    reportResume(range);
  }

  const auto stepDone = [&observer](const char* step) {
    if (observer.stepDone) observer.stepDone(step);
  };
  const cv::Point centre(N / 2, N / 2);
  cv::Mat centreView;  // the finished centre view, for its window
  bool previousProcessed = false;
  FramePrefetch prefetch(*frames);
  ProgressLine progress(std::max(0, range.end - range.first) -
                        static_cast<int>(range.complete.size()));
  // The views are written a group at a time on a thread of their own while
  // the next groups are made. A frame's last groups are still being written
  // while the next frame is turned back and estimated: that frame is
  // `pending` and is completed (its writing waited for, the frame ended and
  // counted) before the next frame's first views, or before anything else
  // ends the loop.
  GroupWriter writer(*views, kGroupSets - 1);
  struct Pending {
    bool active = false;
    int frame = -1;
    double seconds = 0.0;  // its own time in the loop
  } pending;
  auto frameDone = [&](double seconds) {
    views->endFrame();
    ++summary.done;
    summary.frameSeconds += seconds;
    progress.frameDone(summary.frameSeconds);
  };
  // Completes the pending frame. When its writing failed, its error is the
  // run's: the frame is abandoned and the next frame's output dropped.
  bool completionFailed = false;
  auto completePending = [&] {
    if (!pending.active) return;
    pending.active = false;
    try {
      writer.finish();
    } catch (const InterruptedError&) {
      console.drop();
      throw;
    } catch (...) {
      console.drop();
      views->abandonFrame();
      ++summary.failed;
      completionFailed = true;
      throw;
    }
    frameDone(pending.seconds);
    console.release();
  };
  for (int k = range.first; k < range.end; ++k) {
    // Skipped frames print no counter line, so that stdout is that of a run
    // over the remaining frames alone.
    if (range.isComplete(k)) {
      ++summary.skipped;
      previousProcessed = false;
      continue;
    }
    const Clock::time_point frameStart = Clock::now();
    const bool hasNext = k + 1 < range.end && !range.isComplete(k + 1);
    try {
      stopIfInterrupted(k);
      if (line.warmUp && k > 0 && !previousProcessed) {
        progress.clear();  // the replay may have a line to say
        warmUpBefore(renderer, *frames, k);
        stopIfInterrupted(k);
      }
      if (pending.active) console.hold();
      console.counter(k);
      if (observer.frameStarted) observer.frameStarted(k);
      // A frame that has not arrived yet (a stream that waits for its
      // source) does not keep the frame before from being complete.
      if (!prefetch.ready(k)) completePending();
      frame = prefetch.take(k);
      stepDone("read");
      if (hasNext) prefetch.start(k + 1);
      // Handed over: the renderer lets go of the frame once it has its own
      // rotated copy.
      bool begun = false;
      renderer.processFrame(std::move(frame), [&](const std::vector<FinishedView>& group) {
        // Begun with the first group, after the frame's window lines, so
        // that an output folder that cannot be made is reported after them.
        if (!begun) {
          completePending();
          views->beginFrame(k);
          begun = true;
        }
        for (const FinishedView& finished : group) {
          if (finished.place == centre && windowsEnabled()) finished.view.copyTo(centreView);
        }
        writer.write(group);
      });
      // One look at the keys right after rendering: 'v' opens the inspection
      // once the frame's views are written; any other key taken here is
      // dropped ('q' is looked for once the frame is shown).
      const bool inspect = pollKey(1) == kInspectKey;
      pending = Pending{true, k, secondsSince(frameStart)};
      if (inspect) {
        completePending();
        showInspection(renderer);
      }
      showImage("multiViewImage", centreView);
      const bool quit = pollKey(1) == kQuitKey;
      // Its views all written, the frame is finished even when Ctrl-C comes
      // meanwhile: the loop stops before the next frame instead.
      if (quit || !hasNext) completePending();
      stepDone("saveViews");
      previousProcessed = true;
      if (quit) break;
    } catch (const InterruptedError&) {
      // The frame before is completed first: an error of its own comes first.
      if (pending.frame != k) completePending();
      pending.active = false;
      writer.settle();
      throw;
    } catch (...) {
      if (completionFailed) throw;  // counted and abandoned already
      if (pending.frame != k) completePending();
      pending.active = false;
      writer.settle();
      views->abandonFrame();
      ++summary.failed;
      throw;
    }
  }
  completePending();
  return kExitSuccess;
}

}  // namespace

int runPlenoview(int argc, const char* const* argv, const FrameLoopObserver& observer) {
  // OpenCV's own warnings would put a second, unclear line beside ours.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  CommandLine line;
  try {
    line = parseCommandLine(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << "plenoview: " << e.what() << "\n" << kUsage;
    return kExitUsage;
  }
  if (line.showHelp) {
    std::cout << kUsage;
    return kExitSuccess;
  }
  if (line.showVersion) {
    std::cout << "plenoview " << PLENOVIEW_VERSION << std::endl;
    return kExitSuccess;
  }
  const Clock::time_point start = Clock::now();
  const InterruptHandlers interruptHandlers;
  RunSummary summary;
  int status = kExitFailure;
  try {
    status = run(line, observer, summary);
  } catch (const PlenoviewError& e) {
    std::cout.flush();
    std::cerr << "plenoview: " << e.what() << std::endl;
    status = e.exitStatus;
  } catch (const cv::Exception& e) {
    std::cout.flush();
    std::cerr << "plenoview: image processing failed: " << e.err << std::endl;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "plenoview: out of memory" << std::endl;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "plenoview: " << e.what() << std::endl;
  }
  // Once frames were in play, say how far the run got. The line does not
  // start with "plenoview: ", which marks the one error line of a failed run.
  if (summary.loopReached) {
    std::cout.flush();
    summary.wallSeconds = secondsSince(start);
    std::cerr << formatSummary(summary) << std::endl;
  }
  return status;
}

}  // namespace plenoview
