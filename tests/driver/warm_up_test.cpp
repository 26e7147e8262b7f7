#include "driver/warm_up.h"

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <memory>
#include <string>

namespace plenoview {
namespace {

class WarmUp : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = testing::makeTestDir();
    // Outer lenses outside the views: the estimation prints window-test lines.
    testing::writeTextFile(dir + "/calib.xml", testing::kSmallLensCalibration);
    // 16-bit colour with alpha, so that the frame also goes through the
    // conversion to 8 bits.
    frame.create(48, 64, CV_16UC4);
    cv::RNG(11).fill(frame, cv::RNG::UNIFORM, 0, 65536);
    readCalibration(calib, frame, dir + "/calib.xml");
  }

  // A renderer whose patch sizes all hold 200, a value no candidate has, so
  // that every entry the estimation writes shows.
  std::unique_ptr<MultiViewRenderer> renderer() const {
    testing::CoutCapture quiet;
    auto made = std::make_unique<MultiViewRenderer>(calib, 3);
    for (cv::Mat& sizes : made->patchSize) sizes.setTo(200);
    return made;
  }

  cv::Mat frame;
  LensCalibration calib;
};

TEST_F(WarmUp, LeavesThePatchSizesProcessFrameLeavesAndPrintsNothing) {
  const auto processed = renderer();
  ViewGrid views;
  std::string processOutput;
  {
    testing::CoutCapture capture;
    processed->processFrame(frame, views);
    processOutput = capture.text();
  }
  ASSERT_NE(processOutput.find("Out of Roi Range: ("), std::string::npos)
      << "the grid was meant to give window-test lines";

  const auto warmed = renderer();
  std::string warmUpOutput = "not captured";
  {
    testing::CoutCapture capture;
    warmUpPatchSizes(*warmed, frame);
    warmUpOutput = capture.text();
  }
  EXPECT_EQ(warmUpOutput, "");
  for (int t = 0; t < 3; ++t) {
    EXPECT_TRUE(testing::sameImage(warmed->patchSize[t], processed->patchSize[t])) << "type " << t;
    EXPECT_GT(cv::countNonZero(warmed->patchSize[t] != 200), 0)
        << "type " << t << ": nothing estimated";
  }
}

TEST_F(WarmUp, AChunkThatWarmsUpRendersTheFrameAsTheLongRunDoes) {
  cv::Mat next(48, 64, CV_8UC1);
  cv::RNG(12).fill(next, cv::RNG::UNIFORM, 0, 256);

  ViewGrid longRun;
  const auto one = renderer();
  {
    testing::CoutCapture quiet;
    one->processFrame(frame, longRun);
    one->processFrame(next, longRun);
  }
  ViewGrid chunk;
  const auto other = renderer();
  {
    testing::CoutCapture quiet;
    warmUpPatchSizes(*other, frame);
    other->processFrame(next, chunk);
  }
  ASSERT_EQ(chunk.size(), longRun.size());
  for (size_t x = 0; x < chunk.size(); ++x) {
    for (size_t y = 0; y < chunk[x].size(); ++y) {
      EXPECT_TRUE(testing::sameImage(chunk[x][y], longRun[x][y])) << "view " << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace plenoview
