#include "pipeline/estimate_patch_sizes.h"

#include "base/instruction_set.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::makeRenderer;
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
class ScoreLensEdgesTest : public testing::StageTest {
 protected:
  void SetUp() override {
    makeStage(makeCalibration(8.0, {1, 3}), 1);
    placeType(*renderer, 0, {10, 10}, {10, 10});
    cv::Mat ring = cv::Mat::zeros(10, 10, CV_8UC1);
    ring.row(0).setTo(255);
    ring.row(9).setTo(255);
    ring.col(0).setTo(255);
    ring.col(9).setTo(255);
    renderer->lensEdgeMask = ring;
  }

  // Scores type 0 on view (0, 0), its window lines into `console`.
  cv::Mat scores(const cv::Mat& laplacian) {
    return scoreLensEdges(*renderer, laplacian, 0, cv::Point(0, 0), 0, lines());
  }
};

TEST_F(ScoreLensEdgesTest, EdgeImageKeepsTheRingsOfEarlierLenses) {
  const cv::Mat edge = scores(cv::Mat(18, 20, CV_8UC1, cv::Scalar(51)));
  ASSERT_EQ(edge.size(), cv::Size(1, 3));
  ASSERT_EQ(edge.type(), CV_64FC1);
  // Lens 0 alone: floor(36 x 51 / 9180 x 100) = floor(20.0) = 20.
  EXPECT_EQ(edge.at<double>(0, 0), 20.0);
  // Lens 1's window (rows 8..17) also holds lens 0's bottom ring row 14,
  // columns 6..13, not on lens 1's own ring: 36 + 8 = 44 pixels of 51,
  // floor(2244 / 9180 x 100) = floor(24.44) = 24. (Cleared per lens it would
  // score 20, like lens 0.)
  EXPECT_EQ(edge.at<double>(1, 0), 24.0);
  // Lens 2 at rows 10..19 leaves the 18 rows: reported, scores 0.
  EXPECT_EQ(edge.at<double>(2, 0), 0.0);
  EXPECT_EQ(console, "Out of Roi Range: (20,18) -> [10 x 10 from (5, 10)]\n");
}

TEST_F(ScoreLensEdgesTest, OnlyRingPixelsOfTheLaplacianCount) {
  // 255 everywhere except 0 on lens 0's ring and one non-ring pixel of 255
  // inside it: lens 0 sees nothing.
  cv::Mat laplacian(18, 20, CV_8UC1, cv::Scalar(255));
  laplacian(cv::Rect(5, 5, 10, 10)).setTo(0);
  laplacian.at<uchar>(9, 9) = 255;
  const cv::Mat edge = scores(laplacian);
  EXPECT_EQ(edge.at<double>(0, 0), 0.0);
  // Lens 1: its ring rows 15..17 of columns 5 and 14 (6 pixels) and its whole
  // bottom row 17 (10 pixels, 2 already counted) read 255: 14 pixels, and
  // lens 0's pixels copied before are 0. floor(14 x 255 / 9180 x 100) = 38.
  EXPECT_EQ(edge.at<double>(1, 0), 38.0);
}

// Rings wider than 16 pixels, so that the window sums run in 16-byte steps
// (32-byte ones from 32 wide with AVX2) with a last, partial step; the sum
// must count every byte once, on both instruction sets.
TEST(ScoreLensEdgesWide, SumsEveryByteOfTheWindowOnce) {
  // Diameter 20: a window of 20 x 20 with the lens at (0, 0) of a 24 x 24
  // Laplacian. One lens, N = 1; the ring is the window's outline, 76 pixels.
  struct AllowAvx2Again {
    ~AllowAvx2Again() { allowAvx2(true); }
  } allowAgain;
  for (const bool avx2 : {false, true})
    for (const int width : {16, 22, 32, 33, 36, 64, 70}) {
      allowAvx2(avx2);
      std::string console;
      auto renderer = makeRenderer(makeCalibration(20.0, {1, 1}), 1, testing::linesInto(console));
      cv::Mat ring = cv::Mat::zeros(width, width, CV_8UC1);
      ring.row(0).setTo(255);
      ring.row(width - 1).setTo(255);
      ring.col(0).setTo(255);
      ring.col(width - 1).setTo(255);
      renderer->lensEdgeMask = ring;
      // Put the lens so that its window starts at (1, 2): viewPosition puts the
      // window's corner at round(ref - width / 2) with q scaling nothing for
      // lens (0, 0).
      const double half = width * 0.5;
      placeType(*renderer, 0, {1 + half, 2 + half}, {1 + half, 2 + half});
      const cv::Mat laplacian(width + 4, width + 4, CV_8UC1, cv::Scalar(51));
      const cv::Mat scores = scoreLensEdges(*renderer, laplacian, 0, cv::Point(0, 0), 0,
                                            renderer->options.outOfRangeLines);
      // Ring pixels: 4 x width - 4, each 51 of 255: a fifth of the ring sum,
      // floor(20.0) = 20 (twice-counted bytes would raise it).
      EXPECT_EQ(scores.at<double>(0, 0), 20.0) << "width " << width << " AVX2 " << avx2;
      EXPECT_EQ(console, "") << "width " << width;
    }
}

}  // namespace
}  // namespace plenoview
