#include "driver/run_plenoview.h"

#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "calibration/lens_calibration.h"
#include "driver/command_line.h"
#include "driver/frame_console.h"
#include "driver/frame_loop.h"
#include "driver/frame_range.h"
#include "driver/open_view_sink.h"
#include "driver/print_lines.h"
#include "driver/run_summary.h"
#include "io/frame_source.h"
#include "pipeline/frame_pipeline.h"
#include "renderer/set_up_renderer.h"
#include "windows/display.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/core/utils/logger.hpp>

#include <chrono>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace plenoview {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
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
  checks.checkLimits = range.first < range.end;  // a run without frames plans nothing
  const std::unique_ptr<MultiViewRenderer> renderer =
      setUpRenderer(calib, N, std::move(options), checks);
  FramePipeline pipeline(*renderer);
  if (line.threads > 0) cv::setNumThreads(line.threads);

  const std::unique_ptr<ViewSink> views = openViewSink(line, N);
  summary.loopReached = true;
  prepareOutput(range, *views, line.resume);
  reportPreparedOutput(range, line.resume);

  // The first frame's pixels are not needed any more: the loop reads it again.
  frame.release();
  const cv::Size lenses(calib.num.x, calib.num.y);
  const PatchSizeFiles loadSizes(line.loadPatchSizes, lenses);
  const PatchSizeFiles saveSizes(line.savePatchSizes, lenses);
  FrameLoopSettings settings{N, line.warmUp, observer};
  if (!line.loadPatchSizes.empty()) settings.loadPatchSizes = &loadSizes;
  if (!line.savePatchSizes.empty()) settings.savePatchSizes = &saveSizes;
  FrameLoop loop(*frames, *views, range, console, summary, renderingBy(pipeline), settings);
  loop.run();
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
