#include "driver/run_plenoview.h"

#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "calibration/lens_calibration.h"
#include "driver/command_line.h"
#include "driver/frame_console.h"
#include "driver/frame_prefetch.h"
#include "driver/frame_range.h"
#include "driver/group_writer.h"
#include "driver/progress_line.h"
#include "driver/run_summary.h"
#include "driver/warm_up.h"
#include "io/frame_source.h"
#include "io/png_view_files.h"
#include "io/view_videos.h"
#include "pipeline/frame_pipeline.h"
#include "renderer/set_up_renderer.h"
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
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace plenoview {

namespace {

// Where the views go: a PNG file per view and frame, or a video file per view.
std::unique_ptr<ViewSink> openViewSink(const CommandLine& line, int viewNum) {
  if (line.outputFormat == "png") return std::make_unique<PngViewFiles>(line.outputDir, viewNum);
  return std::make_unique<ViewVideoFiles>(
      line.outputDir, line.outputFormat == "yuv" ? ViewVideoFormat::kYuv : ViewVideoFormat::kY4m,
      viewNum, line.fps);
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Replays the estimation of frame k - 1 before frame k when this run did not
// process k - 1 itself. A frame that cannot be read here is no error (a
// chunk's machine may hold only its own frames): the run goes on without.
void warmUpBefore(FramePipeline& pipeline, FrameSource& frames, int k) {
  cv::Mat previous;
  try {
    previous = frames.read(k - 1);
  } catch (const PlenoviewError& e) {
    std::cerr << "warm-up: " << e.what() << "; frame " << k << " goes on without the replay"
              << std::endl;
    return;
  }
  warmUpPatchSizes(pipeline, previous);
}

// Writes `text` on std::cout line by line, each line flushed as it is
// written, so that a run that ends early shows every line before it.
void printLines(const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) std::cout << line << std::endl;
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
  RendererChecks checks;
  checks.calibPath = line.calibPath;
  checks.frameSize = frame.size();
  checks.colour = frame.channels() >= 3;
  // A run without frames plans nothing.
  checks.checkLimits = range.first < range.end;
  const std::unique_ptr<MultiViewRenderer> renderer =
      setUpRenderer(calib, N, std::move(options), checks);
  FramePipeline pipeline(*renderer);
  if (line.threads > 0) cv::setNumThreads(line.threads);

  const std::unique_ptr<ViewSink> views = openViewSink(line, N);
  summary.loopReached = true;
  if (line.resume) {
    resumeFrames(range, *views);
    if (range.removedTemporaries > 0) {
      std::cerr << "resume: removed " << range.removedTemporaries
                << " temporary file(s) left by an interrupted run" << std::endl;
    }
    if (!range.complete.empty()) {
      std::cerr << "resume: skipping " << range.complete.size()
                << " frame(s) whose views all exist: " << describeFrames(range.complete)
                << std::endl;
    }
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
        warmUpBefore(pipeline, *frames, k);
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
      pipeline.processFrame(std::move(frame), [&](const std::vector<FinishedView>& group) {
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
        showInspection(pipeline);
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
