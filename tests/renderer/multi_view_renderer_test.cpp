#include "renderer/multi_view_renderer.h"

#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <memory>
#include <utility>
#include <vector>

namespace plenoview {
namespace {

using testing::makeRenderer;

// A grid of 40 lenses per type and 30 rows with even-row reference lenses at
// x = 10, 33, 56: type 2 lies two diameters right of type 0.
LensCalibration gridOf(double diameter) {
  LensCalibration calib;
  calib.diameter = diameter;
  calib.radius = diameter * 0.5;
  calib.num = {40, 30};
  calib.center = {500, 400};
  for (int t = 0; t < 3; ++t) {
    calib.subGridRefPos[0][t] = {10.0 + diameter * t, 20.0};
    calib.subGridRefPos[1][t] = {10.0 + diameter * t + 1.5 * diameter, 40.0};
  }
  return calib;
}

TEST(MultiViewRenderer, CentresTheViewsAndStartsEveryLensAtSizeOne) {
  // N / 2 truncated: N = 4 has its centre at (2, 2), one view none to shift.
  for (const auto& [N, centre] : {std::pair{4, cv::Point(2, 2)}, std::pair{1, cv::Point(0, 0)}}) {
    SCOPED_TRACE(::testing::Message() << "N " << N);
    const auto renderer = makeRenderer(gridOf(23.0), N);
    EXPECT_EQ(renderer->centerView, centre);
    for (const cv::Mat& sizes : renderer->patchSize) {
      EXPECT_TRUE(testing::sameImage(sizes, cv::Mat(30, 40, CV_8UC1, cv::Scalar(1))));
    }
  }
}

TEST(MultiViewRenderer, CandidatesRunFromThreeToTheDiameterLessTwoMargins) {
  // 3 .. trunc(D) - 2: 23 and 23.7 give 3 .. 21, 6 gives 3, 4; 5 gives 3; 4.9 none.
  for (const auto& [diameter, count] : {std::pair{23.0, 19}, std::pair{23.7, 19}, std::pair{6.0, 2},
                                        std::pair{5.0, 1}, std::pair{4.9, 0}}) {
    const auto renderer = makeRenderer(gridOf(diameter), 5);
    const std::vector<int>& sizes = renderer->candidatePatchSizes;
    ASSERT_EQ(static_cast<int>(sizes.size()), count) << "diameter " << diameter;
    for (int i = 0; i < count; ++i) EXPECT_EQ(sizes[i], 3 + i);
  }
}

// D = 23, r = 11.5, num (40, 30), N = 5, reference type 2 at (56, 20):
// xEnd = 39 x 69 + 56 = 2747, s = 10.5 / 23; width = floor(2 + (s x 2691 + 56
// + 23)) = floor(1309.5) = 1309. yEnd - y0 = 29 x 11.5 sqrt 3 = 577.6389...,
// height = floor(2 + s x 577.6389 + 20 + 23) = floor(308.7047) = 308.
TEST(MultiViewRenderer, ViewSizeCoversTheShrunkenGridOfTheRightType) {
  const auto renderer = makeRenderer(gridOf(23.0), 5);
  EXPECT_EQ(renderer->viewSize, cv::Size(1309, 308));
}

TEST(MultiViewRenderer, ViewSizeFallsBackToTypeZeroWhenNoTypeIsTwoDiametersRight) {
  LensCalibration calib = gridOf(23.0);
  calib.subGridRefPos[0][2].x = 60.5;  // now no type lies at 10 + 46
  calib.subGridRefPos[0][0].y = 30.0;
  // Reference (10, 30): width = floor(2 + s x 2691 + 10 + 23) = floor(1263.5).
  const auto renderer = makeRenderer(calib, 5);
  EXPECT_EQ(renderer->viewSize.width, 1263);
  EXPECT_EQ(renderer->viewSize.height, 318);
}

// Every mask value is 0 or 255: count both and check they add up.
void expectBinary(const cv::Mat& mask) {
  EXPECT_EQ(cv::countNonZero(mask == 0) + cv::countNonZero(mask == 255), mask.rows * mask.cols);
}

TEST(LensMasks, DiscFillsTheMaskFromEdgeToEdge) {
  for (const double diameter : {23.0, 23.9}) {
    const auto renderer = makeRenderer(gridOf(diameter), 5);
    const cv::Mat& mask = renderer->lensMask;
    ASSERT_EQ(mask.size(), cv::Size(23, 23));
    ASSERT_EQ(mask.type(), CV_8UC1);
    expectBinary(mask);
    EXPECT_EQ(mask.at<uchar>(11, 11), 255);
    EXPECT_EQ(mask.at<uchar>(0, 0), 0);
    EXPECT_EQ(mask.at<uchar>(22, 22), 0);
    // A disc of radius 11.5 about (11.5, 11.5) reaches every edge of the mask
    // in its middle, and covers about pi r^2 = 415 pixels.
    for (const cv::Mat& edge : {mask.row(0), mask.row(22), mask.col(0), mask.col(22)}) {
      EXPECT_GT(cv::countNonZero(edge), 0);
      EXPECT_LT(cv::countNonZero(edge), 12);
    }
    EXPECT_NEAR(cv::countNonZero(mask), 415, 23);
  }
}

TEST(LensMasks, EvenDiscIsCentredOnAPixel) {
  const auto renderer = makeRenderer(gridOf(24.0), 5);
  const cv::Mat& mask = renderer->lensMask;
  ASSERT_EQ(mask.size(), cv::Size(24, 24));
  expectBinary(mask);
  EXPECT_EQ(mask.at<uchar>(12, 1), 255);   // 11 from the centre
  EXPECT_EQ(mask.at<uchar>(12, 23), 255);  // 11 from the centre
}

TEST(LensMasks, RimMaskMarksWhereTheLaplacianOfThePaddedDiscIsNonZero) {
  for (const double diameter : {9.0, 23.0, 24.0}) {
    const auto renderer = makeRenderer(gridOf(diameter), 5);
    const int D = static_cast<int>(diameter);
    const cv::Mat& rim = renderer->lensEdgeMask;
    ASSERT_EQ(rim.size(), cv::Size(D + 2, D + 2));
    ASSERT_EQ(rim.type(), CV_8UC1);
    expectBinary(rim);
    cv::Mat padded, response;
    cv::copyMakeBorder(renderer->lensMask, padded, 1, 1, 1, 1, cv::BORDER_CONSTANT, 0);
    cv::Laplacian(padded, response, CV_16S, 3);
    EXPECT_TRUE(testing::sameImage(rim, response != 0)) << "diameter " << diameter;
    // Deep inside and far outside the disc there is no rim.
    EXPECT_EQ(rim.at<uchar>(D / 2 + 1, D / 2 + 1), 0);
    EXPECT_EQ(rim.at<uchar>(0, 0), 0);
    EXPECT_EQ(rim.at<uchar>(D + 1, D + 1), 0);
    // The rim passes through the middle of the top edge of the disc.
    EXPECT_EQ(rim.at<uchar>(1, D / 2 + 1), 255);
  }
}

}  // namespace
}  // namespace plenoview
