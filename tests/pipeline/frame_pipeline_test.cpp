#include "pipeline/frame_pipeline.h"

#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::PipelineRun;
using testing::sameImage;

// A grid of diameter 9 whose lenses fit a 41 x 41 frame, rotated about (20, 20).
const cv::Point2d kRefs[2][3] = {{{10, 10}, {19, 10}, {28, 10}},
                                 {{23.5, 17.794}, {32.5, 17.794}, {14.5, 17.794}}};

LensCalibration squareGrid(double rotation) {
  LensCalibration calib = makeCalibration(9.0, {1, 2}, kRefs, {20.0, 20.0});
  calib.rotation = rotation;
  return calib;
}

// Samples that differ from their neighbours, so that any move shows.
cv::Mat patternFrame(int type) {
  cv::Mat frame(41, 41, type);
  for (size_t i = 0; i < frame.total() * frame.elemSize(); ++i)
    frame.data[i] = static_cast<uchar>(1 + (i * 37) % 251);
  return frame;
}

TEST(ProcessFrame, RotationZeroLeavesTheFrameAsItIs) {
  for (const int type : {CV_8UC1, CV_8UC3}) {
    PipelineRun run(squareGrid(0.0), 1);  // N = 1: no border
    const cv::Mat frame = patternFrame(type);
    const cv::Mat before = frame.clone();
    ViewGrid viewGrid;
    run.pipeline.processFrame(frame, viewGrid);
    EXPECT_TRUE(sameImage(run.pipeline.images().rawImage, frame)) << "type " << type;
    EXPECT_NE(run.pipeline.images().rawImage.data, frame.data) << "rawImage must own its pixels";
    EXPECT_TRUE(sameImage(frame, before)) << "the caller's frame must not change";
  }
}

TEST(ProcessFrame, TurnsTheFrameBackByTheGridRotationAboutItsCentre) {
  // Rotation 3.14159265 / 2: angle (1.570796325 x -180) / 3.14159265 = -90
  // degrees, a clockwise quarter turn about (20, 20). The point (u, v) of the
  // frame lands on (40 - v, u): frame (x = 0, y = 0) goes to (40, 0), the top
  // right corner. So rawImage(x, y) = frame(x = y, y = 40 - x).
  PipelineRun run(squareGrid(3.14159265 / 2), 1);
  const cv::Mat frame = patternFrame(CV_8UC1);
  ViewGrid viewGrid;
  run.pipeline.processFrame(frame, viewGrid);
  cv::Mat expected(41, 41, CV_8UC1);
  for (int y = 0; y < 41; ++y) {
    for (int x = 0; x < 41; ++x) expected.at<uchar>(y, x) = frame.at<uchar>(40 - x, y);
  }
  EXPECT_TRUE(sameImage(run.pipeline.images().rawImage, expected));
}

TEST(ProcessFrame, TakesDeepFramesWithAlpha) {
  // Sixteen-bit colour with alpha: the alpha goes, each sample keeps its high
  // byte. N = 4: the result is padded by 2.
  cv::Mat frame(41, 41, CV_16UC4);
  for (int y = 0; y < 41; ++y) {
    for (int x = 0; x < 41; ++x)
      frame.at<cv::Vec4w>(y, x) = {ushort(x * 256 + 255), ushort(y * 256), 0x8000, 0xFFFF};
  }
  PipelineRun run(squareGrid(0.0), 4);
  ViewGrid viewGrid;
  run.pipeline.processFrame(frame, viewGrid);
  cv::Mat expected = cv::Mat::zeros(45, 45, CV_8UC3);
  for (int y = 0; y < 41; ++y) {
    for (int x = 0; x < 41; ++x) expected.at<cv::Vec3b>(y + 2, x + 2) = {uchar(x), uchar(y), 0x80};
  }
  EXPECT_TRUE(sameImage(run.pipeline.images().rawImage, expected));
  EXPECT_EQ(run.pipeline.images().scaleLevelWindows.channels(), 3);
}

TEST(ProcessFrame, RendersEveryViewOfEveryType) {
  // After a frame every view of every type has been rendered at viewSize:
  // grey for a grey frame, colour for a colour one.
  for (const int frameType : {CV_8UC1, CV_8UC3}) {
    PipelineRun run(squareGrid(0.001), 3);
    ViewGrid viewGrid;
    run.pipeline.processFrame(patternFrame(frameType), viewGrid);
    for (int type = 0; type < kLensTypes; ++type) {
      ASSERT_EQ(run.pipeline.images().multiViewImage[type].size(), 3u);
      for (int x = 0; x < 3; ++x) {
        for (int y = 0; y < 3; ++y) {
          const cv::Mat& view = run.pipeline.images().multiViewImage[type][x][y];
          EXPECT_EQ(view.size(), run.renderer.viewSize) << type << " " << x << "," << y;
          EXPECT_EQ(view.type(), frameType) << type << " " << x << "," << y;
        }
      }
    }
  }
}

TEST(ProcessFrame, EachFrameGetsAFreshlyPaddedImage) {
  // N = 3 pads by 1. Between two frames the caller scribbles over rawImage,
  // border included; the second frame's image is its own frame inside a
  // black border all the same.
  const MultiViewRenderer renderer(squareGrid(0.0), 3);
  FrameImages images;
  renderer.loadRawImage(patternFrame(CV_8UC3), images);
  renderer.prepareRawImage(images);
  images.rawImage.setTo(cv::Scalar::all(77));
  cv::Mat second = patternFrame(CV_8UC3);
  second.setTo(cv::Scalar(5, 6, 7));
  renderer.loadRawImage(second, images);
  renderer.prepareRawImage(images);
  cv::Mat expected = cv::Mat::zeros(43, 43, CV_8UC3);
  expected(cv::Rect(1, 1, 41, 41)).setTo(cv::Scalar(5, 6, 7));
  EXPECT_TRUE(testing::sameImage(images.rawImage, expected));
}

}  // namespace
}  // namespace plenoview
