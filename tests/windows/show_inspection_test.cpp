#include "windows/show_inspection.h"

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"
#include "windows/display.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace plenoview {
namespace {

using testing::sameImage;

TEST(ShowInspection, ReturnsAtOnceWithoutWindows) {
  // With windows off no key can ever arrive, so the loop must not be entered.
  // Run in a child that an alarm ends, so that a fault fails instead of hanging.
  setWindowsEnabled(false);
  testing::PipelineRun run(testing::makeCalibration(10.0, {1, 1}), 3);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        alarm(5);
        showInspection(run.pipeline);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(DrawCalibrationImage, WritesThePictureWithoutWindowsAndReplacesIt) {
  namespace fs = std::filesystem;
  setWindowsEnabled(false);
  const fs::path dir = testing::makeTestDir();
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  const cv::Point2d refs[2][3] = {{{15.25, 12}, {35.75, 12}, {55, 12}},
                                  {{120, 20.66}, {140, 20.66}, {160.6, 20.66}}};
  const LensCalibration calib = testing::makeCalibration(10.0, {1, 2}, refs, {180, 45});
  const cv::Mat grey(60, 200, CV_8UC1, cv::Scalar(40));
  drawCalibrationImage(calib, grey);
  const cv::Mat first = cv::imread("drawImage.png", cv::IMREAD_UNCHANGED);
  // A second call replaces the file.
  LensCalibration emptyGrid = calib;
  emptyGrid.num = cv::Point(0, 0);
  drawCalibrationImage(emptyGrid, grey);
  const cv::Mat second = cv::imread("drawImage.png", cv::IMREAD_UNCHANGED);
  fs::current_path(previous);
  // The file holds the overlay exactly (PNG is lossless).
  EXPECT_TRUE(sameImage(first, calib.calibrationOverlay(grey)));
  EXPECT_TRUE(sameImage(second, emptyGrid.calibrationOverlay(grey)));
  EXPECT_FALSE(sameImage(first, second));
}

}  // namespace
}  // namespace plenoview
