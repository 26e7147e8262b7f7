#include "driver/warm_up.h"

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/pipeline_test_support.h"
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
    testing::writeTextFile(dir + "/calib.xml", testing::smallLensCalibration());
    // 16-bit colour with alpha, so that the frame also goes through the
    // conversion to 8 bits.
    frame.create(48, 64, CV_16UC4);
    cv::RNG(11).fill(frame, cv::RNG::UNIFORM, 0, 65536);
    readCalibration(calib, frame, dir + "/calib.xml");
  }

  // A renderer whose patch sizes all hold 200, a value no candidate has, so
  // that every entry the estimation writes shows. Its window lines go to
  // `console`.
  std::unique_ptr<MultiViewRenderer> renderer(std::string& console) const {
    auto made = testing::makeRenderer(calib, 3, testing::linesInto(console));
    for (cv::Mat& sizes : made->patchSize) sizes.setTo(200);
    return made;
  }

  cv::Mat frame;
  LensCalibration calib;
};

TEST_F(WarmUp, LeavesThePatchSizesProcessFrameLeavesAndDropsItsLines) {
  std::string processOutput;
  const auto processed = renderer(processOutput);
  FramePipeline processing(*processed);
  ViewGrid views;
  processing.processFrame(frame, views);
  ASSERT_NE(processOutput.find("Out of Roi Range: ("), std::string::npos)
      << "the grid was meant to give window-test lines";

  std::string warmedOutput;
  const auto warmed = renderer(warmedOutput);
  FramePipeline warming(*warmed);
  warmUpPatchSizes(warming, frame);
  EXPECT_EQ(warmedOutput, "");
  for (int t = 0; t < 3; ++t) {
    EXPECT_TRUE(testing::sameImage(warmed->patchSize[t], processed->patchSize[t])) << "type " << t;
    EXPECT_GT(cv::countNonZero(warmed->patchSize[t] != 200), 0)
        << "type " << t << ": nothing estimated";
  }
  // The renderer has its own sink back: the next frame reports as usual.
  processOutput.clear();
  processing.processFrame(frame, views);
  warming.processFrame(frame, views);
  EXPECT_EQ(warmedOutput, processOutput);
}

TEST_F(WarmUp, AChunkThatWarmsUpRendersTheFrameAsTheLongRunDoes) {
  cv::Mat next(48, 64, CV_8UC1);
  cv::RNG(12).fill(next, cv::RNG::UNIFORM, 0, 256);

  ViewGrid longRun;
  std::string dropped;
  const auto one = renderer(dropped);
  FramePipeline longPipeline(*one);
  longPipeline.processFrame(frame, longRun);
  longPipeline.processFrame(next, longRun);
  ViewGrid chunk;
  const auto other = renderer(dropped);
  FramePipeline chunkPipeline(*other);
  warmUpPatchSizes(chunkPipeline, frame);
  chunkPipeline.processFrame(next, chunk);
  EXPECT_TRUE(testing::sameGrid(chunk, longRun));
}

}  // namespace
}  // namespace plenoview
