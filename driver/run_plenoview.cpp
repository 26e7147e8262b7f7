#include "driver/run_plenoview.h"

#include "calibration/lens_calibration.h"
#include "driver/command_line.h"
#include "driver/frame_checks.h"
#include "driver/frame_path.h"
#include "driver/plenoview_error.h"
#include "output/display.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/render_limits.h"
#include "renderer/view_geometry.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <iostream>
#include <new>
#include <string>

namespace plenoview {

namespace {

// `firstSize`, when not empty, is the size every later frame must have.
cv::Mat readFrame(const std::string& pattern, int index, cv::Size firstSize = cv::Size()) {
  const std::string path = formatPath(pattern, index);
  checkFrameFile(path, index);
  cv::Mat frame;
  try {
    frame = cv::imread(path, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception& e) {
    throw PlenoviewError("frame " + std::to_string(index) + ": cannot read \"" + path + "\": " + e.err);
  }
  if (frame.empty()) {
    throw PlenoviewError("frame " + std::to_string(index) + ": cannot read \"" + path +
                         "\" (missing, empty or not an image)");
  }
  checkFrameImage(frame, path, index, firstSize);
  return frame;
}

int run(const CommandLine& line) {
  std::cout << "CalibPath: " << line.calibPath << std::endl;
  std::cout << "ImagePath: " << line.imagePattern << std::endl;
  std::cout << "ImageNum: " << line.imageNumText << std::endl;
  std::cout << "ViewNum: " << line.viewNumText << std::endl;

  const bool display = displayAvailable();
  setWindowsEnabled(line.showWindows && display, line.showWindows && !display);

  // Frame 0 is read first, for its size, so that a wrong pattern is reported
  // before the calibration.
  cv::Mat frame = readFrame(line.imagePattern, 0);
  const int N = line.viewNum;

  LensCalibration calib;
  readCalibration(calib, frame, line.calibPath);
  MultiViewRenderer renderer(calib, N);
  const cv::Size firstSize = frame.size();
  // Refused before any frame is rendered; a run without frames plans nothing.
  if (line.imageNum > 0) {
    checkRenderLimits(renderer, firstSize, frame.channels() >= 3, line.calibPath);
  }
  // Views that would crop to nothing are refused before the first frame,
  // rather than written as empty files.
  checkViewGeometry(renderer.calib, renderer.viewSize);

  ViewGrid viewGrid;
  const int F = line.imageNum;
  for (int k = 0; k < F; ++k) {
    std::printf("frameCnt:%04d\r", k);
    frame = readFrame(line.imagePattern, k, firstSize);
    renderer.processFrame(frame, viewGrid);
    showImage("multiViewImage", viewGrid[N / 2][N / 2]);
    renderer.saveViews(viewGrid, k);
    if (pollKey(1) == kQuitKey) break;
  }
  return kExitSuccess;
}

}  // namespace

int runPlenoview(int argc, const char* const* argv) {
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
  try {
    return run(line);
  } catch (const PlenoviewError& e) {
    std::cout.flush();
    std::cerr << "plenoview: " << e.what() << std::endl;
    return e.exitStatus;
  } catch (const cv::Exception& e) {
    std::cout.flush();
    std::cerr << "plenoview: image processing failed: " << e.err << std::endl;
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "plenoview: out of memory" << std::endl;
    return kExitFailure;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "plenoview: " << e.what() << std::endl;
    return kExitFailure;
  }
}

}  // namespace plenoview
