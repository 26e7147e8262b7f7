#include "pipeline/estimate_patch_sizes.h"

#include "tests/pipeline/stage_renderer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace plenoview {
namespace {

using testing::CoutCapture;
using testing::makeStageRenderer;
using testing::placeType;

// One row of score tables, one table per candidate, lens k in column k.
std::vector<cv::Mat> scoreRows(std::initializer_list<std::vector<double>> perCandidate) {
  std::vector<cv::Mat> tables;
  for (const std::vector<double>& row : perCandidate) tables.push_back(cv::Mat(row, true).t());
  return tables;
}

TEST(SelectPatchSizes, LowestScoreBelowHundredWinsEarlierOnTies) {
  // Lens:               0     1     2      3    4     5
  const std::vector<cv::Mat> tables = scoreRows({
      {40.0, 100.0, 99.9, 0.0, 20.7, 120.0},   // candidate 3
      {30.0, 150.0, 100.0, 0.0, 20.2, 100.5},  // candidate 4
      {30.0, 100.0, 100.0, 0.0, 21.0, 250.0},  // candidate 5
  });
  // The previous frame's choices.
  cv::Mat patchSize = (cv::Mat_<uchar>(1, 6) << 9, 7, 9, 9, 9, 1);
  selectPatchSizes(tables, {3, 4, 5}, patchSize);
  // 0: 30 ties at 4 and 5, the earlier stays.  1: nothing below 100, keeps 7.
  // 2: 99.9 truncates to 99 < 100.  3: a lens outside the view scores 0 for
  // every candidate and gets the first.  4: 20.7 and 20.2 both truncate to 20,
  // the earlier stays.  5: 100 or more throughout, keeps the first frame's 1.
  const cv::Mat expected = (cv::Mat_<uchar>(1, 6) << 4, 7, 3, 3, 3, 1);
  EXPECT_TRUE(testing::sameImage(patchSize, expected));
}

TEST(SelectPatchSizes, StoresTheLowEightBits) {
  cv::Mat patchSize = cv::Mat::ones(1, 1, CV_8UC1);
  selectPatchSizes(scoreRows({{50.0}, {10.0}}), {3, 260}, patchSize);
  EXPECT_EQ(patchSize.at<uchar>(0, 0), 4);  // 260 = 256 + 4
}

// Diameter 8 (radius 4, margin 1, q = 0.375), lensEdgeMask replaced by a
// 10 x 10 frame: 36 ring pixels, sum 36 x 255 = 9180. Type 0, one lens per
// row, reference (10, 10) for both parities, N = 1 (no view shift, no border):
//   left = 10 - 5 = 5;  top = 4 sqrt(3) j x 0.375 + 10 - 5 = 5 + 2.598 j
//   -> lens 0: columns 5..14, rows 5..14;  lens 1: rows 8..17;  lens 2: top 10.
// The Laplacian image is 20 wide, 18 high, every pixel 51.
class ScoreLensEdgesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer = makeStageRenderer(8.0, cv::Point(1, 3), 1);
    placeType(*renderer, 0, {10, 10}, {10, 10});
    cv::Mat ring = cv::Mat::zeros(10, 10, CV_8UC1);
    ring.row(0).setTo(255);
    ring.row(9).setTo(255);
    ring.col(0).setTo(255);
    ring.col(9).setTo(255);
    renderer->lensEdgeMask = ring;
  }

  std::unique_ptr<MultiViewRenderer> renderer;
};

TEST_F(ScoreLensEdgesTest, EdgeImageKeepsTheRingsOfEarlierLenses) {
  const cv::Mat laplacian(18, 20, CV_8UC1, cv::Scalar(51));
  const CoutCapture out;
  const cv::Mat scores = scoreLensEdges(*renderer, laplacian, 0, cv::Point(0, 0));
  ASSERT_EQ(scores.size(), cv::Size(1, 3));
  ASSERT_EQ(scores.type(), CV_64FC1);
  // Lens 0 alone: floor(36 x 51 / 9180 x 100) = floor(20.0) = 20.
  EXPECT_EQ(scores.at<double>(0, 0), 20.0);
  // Lens 1's window (rows 8..17) also holds lens 0's bottom ring row 14,
  // columns 6..13, not on lens 1's own ring: 36 + 8 = 44 pixels of 51,
  // floor(2244 / 9180 x 100) = floor(24.44) = 24. (Cleared per lens it would
  // score 20, like lens 0.)
  EXPECT_EQ(scores.at<double>(1, 0), 24.0);
  // Lens 2 at rows 10..19 leaves the 18 rows: reported, scores 0.
  EXPECT_EQ(scores.at<double>(2, 0), 0.0);
  EXPECT_EQ(out.text(), "Out of Roi Range: (20,18) -> [10 x 10 from (5, 10)]\n");
}

TEST_F(ScoreLensEdgesTest, OnlyRingPixelsOfTheLaplacianCount) {
  // 255 everywhere except 0 on lens 0's ring and one non-ring pixel of 255
  // inside it: lens 0 sees nothing.
  cv::Mat laplacian(18, 20, CV_8UC1, cv::Scalar(255));
  laplacian(cv::Rect(5, 5, 10, 10)).setTo(0);
  laplacian.at<uchar>(9, 9) = 255;
  const CoutCapture out;
  const cv::Mat scores = scoreLensEdges(*renderer, laplacian, 0, cv::Point(0, 0));
  EXPECT_EQ(scores.at<double>(0, 0), 0.0);
  // Lens 1: its ring rows 15..17 of columns 5 and 14 (6 pixels) and its whole
  // bottom row 17 (10 pixels, 2 already counted) read 255: 14 pixels, and
  // lens 0's pixels copied before are 0. floor(14 x 255 / 9180 x 100) = 38.
  EXPECT_EQ(scores.at<double>(1, 0), 38.0);
}

}  // namespace
}  // namespace plenoview
