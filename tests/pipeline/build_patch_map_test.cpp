#include "pipeline/build_patch_map.h"

#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::placeType;

// Diameter 8 (radius 4, margin 1): the grid shrinks by q = 3 / 8 = 0.375 and
// every disc is the 8 x 8 lensMask, centred at (4, 4) with radius 4.
// Type 0, one lens per row, three rows, reference (10, 10) for both parities:
//   left = 10 - 4 = 6 for every row;
//   top  = 4 sqrt(3) j x 0.375 + 10 - 4 = 6 + 2.598 j  ->  6, 9 (8.598), 11 (11.196).
// So disc 0 covers rows 6..13, disc 1 rows 9..16, disc 2 rows 11..18, all in
// columns 6..13. Column 10 is local column 4, the disc's centre column.
// Types 1 and 2 lie left of and right of the 24 x 24 map.
class BuildPatchMapTest : public testing::StageTest {
 protected:
  void SetUp() override {
    makeStage(makeCalibration(8.0, {1, 3}), 1);
    placeType(*renderer, 0, {10, 10}, {10, 10});
    placeType(*renderer, 1, {-10, 10}, {-10, 10});
    placeType(*renderer, 2, {100, 10}, {100, 10});
    renderer->viewSize = cv::Size(24, 24);
    // The pixels read below lie at most 3 from the disc centre: inside it.
    for (const int row : {1, 3, 4, 6}) ASSERT_EQ(renderer->lensMask.at<uchar>(row, 4), 255);
    ASSERT_EQ(renderer->lensMask.at<uchar>(0, 0), 0);
  }

  void setSizes(int row0, int row1, int row2) {
    for (int t = 0; t < 3; ++t) {
      renderer->patchSize[t] = (cv::Mat_<uchar>(3, 1) << row0, row1, row2);
    }
  }
};

TEST_F(BuildPatchMapTest, LaterDiscsAverageWithWhatIsThere) {
  struct Case {
    int sizes[3];
    int onlyDisc0;  // (7, 10): disc 0 alone
    int discs01;    // (10, 10): discs 0 then 1
    int discs012;   // (12, 10): discs 0, 1, 2
    int onlyDisc2;  // (17, 10): disc 2 alone
  };
  const Case cases[] = {
      // trunc(0.5 x 12 + 0.5 x 9) = 10; trunc(0.5 x 20 + 0.5 x 10) = 15.
      {{9, 12, 20}, 9, 10, 15, 20},
      // trunc(0.5 x 9 + 0.5 x 12) = 10 as well.
      {{12, 9, 20}, 12, 10, 15, 20},
      // The first frame: no candidate has won yet, every lens paints 1.
      {{1, 1, 1}, 1, 1, 1, 1},
  };
  for (const Case& c : cases) {
    setSizes(c.sizes[0], c.sizes[1], c.sizes[2]);
    renderer->buildPatchMap(images, lines());
    const cv::Mat& map = images.patchMap[0];
    ASSERT_EQ(map.size(), cv::Size(24, 24));
    ASSERT_EQ(map.type(), CV_8UC1);
    SCOPED_TRACE(::testing::Message()
                 << "sizes " << c.sizes[0] << ", " << c.sizes[1] << ", " << c.sizes[2]);
    EXPECT_EQ(map.at<uchar>(7, 10), c.onlyDisc0);
    EXPECT_EQ(map.at<uchar>(10, 10), c.discs01);
    EXPECT_EQ(map.at<uchar>(12, 10), c.discs012);
    EXPECT_EQ(map.at<uchar>(17, 10), c.onlyDisc2);
    // Inside disc 0's window but outside its disc, and above the other discs.
    EXPECT_EQ(map.at<uchar>(6, 6), 0);
    // Outside every window.
    EXPECT_EQ(map.at<uchar>(3, 20), 0);
  }
}

TEST_F(BuildPatchMapTest, LensesOutsideTheMapAreReportedAndLeftOut) {
  setSizes(9, 12, 20);
  renderer->buildPatchMap(images, lines());
  // Type 1: left = (-10 + 10) x 0.375 - 10 - 4 = -14; type 2: 100 - 4 = 96.
  EXPECT_EQ(console,
            "Out of Roi Range: (24,24) -> [8 x 8 from (-14, 6)]\n"
            "Out of Roi Range: (24,24) -> [8 x 8 from (-14, 9)]\n"
            "Out of Roi Range: (24,24) -> [8 x 8 from (-14, 11)]\n"
            "Out of Roi Range: (24,24) -> [8 x 8 from (96, 6)]\n"
            "Out of Roi Range: (24,24) -> [8 x 8 from (96, 9)]\n"
            "Out of Roi Range: (24,24) -> [8 x 8 from (96, 11)]\n");
  EXPECT_EQ(cv::countNonZero(images.patchMap[1]), 0);
  EXPECT_EQ(cv::countNonZero(images.patchMap[2]), 0);
  EXPECT_EQ(images.patchMap[1].size(), cv::Size(24, 24));
}

TEST_F(BuildPatchMapTest, AMaskWithAHoleLeavesItsPixelToTheOtherDiscs) {
  // The disc's centre (4, 4) cut out of the mask: (10, 10) is then disc 1's
  // alone (its local row 1), 12, instead of the mean 10 of discs 0 and 1.
  renderer->lensMask.at<uchar>(4, 4) = 0;
  setSizes(9, 12, 20);
  renderer->buildPatchMap(images, lines());
  EXPECT_EQ(images.patchMap[0].at<uchar>(10, 10), 12);
  EXPECT_EQ(images.patchMap[0].at<uchar>(10, 9), 10);
}

TEST_F(BuildPatchMapTest, RebuildsFromZeroEveryFrame) {
  setSizes(9, 12, 20);
  renderer->buildPatchMap(images, lines());
  // Move type 0 out of the map: nothing of the previous frame may survive.
  placeType(*renderer, 0, {-10, 10}, {-10, 10});
  renderer->buildPatchMap(images, lines());
  EXPECT_EQ(cv::countNonZero(images.patchMap[0]), 0);
}

}  // namespace
}  // namespace plenoview
