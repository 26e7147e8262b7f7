#include "pipeline/render_multi_view_image.h"

#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::sameImage;

// One lens as the expectations see it: where its patch lands in the view and
// the value it carries there.
struct PlacedLens {
  cv::Point corner;
  int value;
};

// Merges a constant disc (lensMask) into `view` the way views are built: an
// empty (0) sample takes the value, any other the truncated mean.
void mergeDisc(cv::Mat& view, const cv::Mat& mask, cv::Point corner, int value) {
  for (int v = 0; v < mask.rows; ++v) {
    for (int u = 0; u < mask.cols; ++u) {
      if (mask.at<uchar>(v, u) != 255) continue;
      uchar& out = view.at<uchar>(corner.y + v, corner.x + u);
      out = out == 0 ? value : (value + out) / 2;
    }
  }
}

// ---------------------------------------------------------------------------
// Two lens rows of a hexagonal grid, diameter 9 (radius 4.5), N = 1, so no
// border and no view shift. Lens centres (x, y) of type L, row t, column j:
// x = 27 j + refX[t mod 2][L], y = sqrt(3) x 4.5 x t + 10 (row 1 at 17.794).
//   even rows: type 0 at 10, type 1 at 19, type 2 at 28
//   odd rows:  type 0 at 23.5, type 1 at 32.5, type 2 at 14.5
// Every lens shows its own value on a disc of radius 4.4 about its centre (the
// discs of neighbours, 9 apart, never share a pixel); the rest of the frame is
// 0. Candidates 3..7, 7 levels of sizes 3..9. Patch sizes 1 and 2 give sizes
// 3 and 4 after the margins: levels 0 and 1, scales k = 3 and 2.25, whose
// windows read the frame within about 3.5 pixels of the lens centre, inside
// the lens's disc.
constexpr int kFrameWidth = 60;
constexpr int kFrameHeight = 28;
const cv::Point2d kGridRefs[2][3] = {{{10, 10}, {19, 10}, {28, 10}},
                                     {{23.5, 17.794}, {32.5, 17.794}, {14.5, 17.794}}};
const int kBaseValue[2][2] = {{40, 90}, {170, 230}};  // + 5 x type
const int kPatchSize[3][2][2] = {{{1, 2}, {2, 1}}, {{2, 1}, {1, 1}}, {{1, 1}, {2, 2}}};

int lensValue(int L, int t, int j) { return kBaseValue[t][j] + 5 * L; }

// Destination corners: x = round((x - refX[0][L]) x 3.5 / 9 + refX[0][L] - 4.5),
// y = round((y - 10) x 3.5 / 9 + 10 - 4.5), ties to even.
//   row 0: y = round(5.5) = 6; row 1: y = round(3.0311 + 5.5) = 9.
//   type 0: row 0: round(5.5) = 6, round(10.5 + 5.5) = 16;
//           row 1: round(13.5 x 7/18 + 5.5) = round(10.75) = 11, round(21.25) = 21.
//   type 1: row 0: round(14.5) = 14, round(25) = 25; row 1: round(19.75) = 20, round(30.25) = 30.
//   type 2: row 0: round(23.5) = 24, round(34) = 34; row 1: round(-5.25 + 23.5) = 18, round(28.75)
//   = 29.
const cv::Point kCorner[3][2][2] = {{{{6, 6}, {16, 6}}, {{11, 9}, {21, 9}}},
                                    {{{14, 6}, {25, 6}}, {{20, 9}, {30, 9}}},
                                    {{{24, 6}, {34, 6}}, {{18, 9}, {29, 9}}}};

// View size from the right-hand type 2: floor(27 x 3.5 / 9 + 28 + 9) = floor(47.5) = 47
// wide, floor(3.0311 + 10 + 9) = 22 high.
const cv::Size kGridViewSize(47, 22);

cv::Mat lensGridFrame() {
  cv::Mat frame = cv::Mat::zeros(kFrameHeight, kFrameWidth, CV_8UC1);
  for (int L = 0; L < 3; ++L) {
    for (int t = 0; t < 2; ++t) {
      for (int j = 0; j < 2; ++j) {
        const double cx = 27.0 * j + kGridRefs[t % 2][L].x;
        const double cy = std::sqrt(3.0) * 4.5 * t + 10.0;
        for (int y = 0; y < frame.rows; ++y) {
          for (int x = 0; x < frame.cols; ++x) {
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 4.4 * 4.4) {
              frame.at<uchar>(y, x) = static_cast<uchar>(lensValue(L, t, j));
            }
          }
        }
      }
    }
  }
  return frame;
}

class LensGridRendering : public testing::StageTest {
 protected:
  void SetUp() override {
    makeStage(makeCalibration(9.0, {2, 2}, kGridRefs), 1);
    ASSERT_EQ(renderer->viewSize, kGridViewSize);
    images.rawImage = lensGridFrame();
    renderer->prepareRawImage(images);
    for (int L = 0; L < 3; ++L) {
      for (int t = 0; t < 2; ++t) {
        for (int j = 0; j < 2; ++j) renderer->patchSize[L].at<uchar>(t, j) = kPatchSize[L][t][j];
      }
    }
  }

  // The view of type L as the lenses listed merge into it, in loop order.
  cv::Mat expectedView(int L, cv::Size size, bool skipLastOfFirstRow = false) const {
    cv::Mat view = cv::Mat::zeros(size, CV_8UC1);
    for (int t = 0; t < 2; ++t) {
      for (int j = 0; j < 2; ++j) {
        if (skipLastOfFirstRow && t == 0 && j == 1) continue;
        // Type 1, row 1, column 1 (x = 59.5): its window on level 0 (180 x 84)
        // starts at round(3 x 59.5 - 4.5) = 174 and needs 183 columns: white.
        const int value = (L == 1 && t == 1 && j == 1) ? 255 : lensValue(L, t, j);
        mergeDisc(view, renderer->lensMask, kCorner[L][t][j], value);
      }
    }
    return view;
  }
};

TEST_F(LensGridRendering, EachLensShowsItsValueWhereItLands) {
  renderer->renderMultiViewImage(images, lines());
  EXPECT_EQ(console, "Out of Roi Range: (180,84) -> [9 x 9 from (174, 49)]\n");

  for (int L = 0; L < 3; ++L) {
    EXPECT_TRUE(sameImage(images.multiViewImage[L][0][0], expectedView(L, kGridViewSize)))
        << "type " << L;
  }

  // A few samples worked through in full (view x, y):
  const cv::Mat& type0 = images.multiViewImage[0][0][0];
  // (12, 12): lens (0,0) = 40 at mask (6, 6), then lens (1,0) = 170 at mask (1, 3): (170 + 40) / 2.
  EXPECT_EQ(type0.at<uchar>(12, 12), 105);
  // (18, 12): lens (0,1) = 90, then lens (1,0) = 170: 130.  (24, 12): 90, then (1,1) = 230: 160.
  EXPECT_EQ(type0.at<uchar>(12, 18), 130);
  EXPECT_EQ(type0.at<uchar>(12, 24), 160);
  // (10, 7): lens (0,0) alone.  (15, 6): between the two row-0 patches, above row 1: empty.
  EXPECT_EQ(type0.at<uchar>(7, 10), 40);
  EXPECT_EQ(type0.at<uchar>(6, 15), 0);
  EXPECT_EQ(type0.at<uchar>(0, 0), 0);
  // The white lens of type 1 at (30, 9): its centre (34, 13) is covered by nothing else.
  EXPECT_EQ(images.multiViewImage[1][0][0].at<uchar>(13, 34), 255);
}

TEST_F(LensGridRendering, SkipsALensWhoseDestinationLeavesTheView) {
  // Narrower views: type 2, row 0, column 1 lands at x = 34 and needs 43 columns.
  const cv::Size narrow(40, 22);
  renderer->viewSize = narrow;
  renderer->renderMultiViewImage(images, lines());
  EXPECT_EQ(console,
            "Out of Roi Range: (180,84) -> [9 x 9 from (174, 49)]\n"
            "Out of Roi Range: (40,22) -> [9 x 9 from (34, 6)]\n");
  EXPECT_TRUE(sameImage(images.multiViewImage[0][0][0], expectedView(0, narrow)));
  EXPECT_TRUE(sameImage(images.multiViewImage[1][0][0], expectedView(1, narrow)));
  EXPECT_TRUE(sameImage(images.multiViewImage[2][0][0], expectedView(2, narrow, true)));
}

// ---------------------------------------------------------------------------
// One lens per type, N = 3 (centre view (1, 1), border 1). Reference lenses at
// (12.25 + 9 L, 11.25). The frame is a ramp, 10 + 2 x + 5 y, 44 x 24, so a
// sample tells where it came from. Patch size 7 gives size 9 = the lens
// diameter: level 6, the padded frame itself, k = 1.
//   Sample point of view (x, y): (12.25 + 9 L + (x - 1) + 1, 11.25 + (y - 1) + 1).
//   Window corner: (round(7.75 + 9 L + x), round(6.75 + y)) = (8 + 9 L + x, 7 + y).
//   Padded (X, Y) is frame (X - 1, Y - 1), so patch sample (u, v) holds
//   10 + 2 (7 + 9 L + x + u) + 5 (6 + y + v) = 54 + 18 L + 2 x + 5 y + 2 u + 5 v.
//   Destination: x: round(7.75 + 9 L + 0.3889 x) = 8 + 9 L + {0, 0, 1}[x];
//                y: round(6.75 + 0.3889 y) = 7 + {0, 0, 1}[y].
//   View size: floor(1 + 30.25 + 9) = 40 by floor(1 + 11.25 + 9) = 21.
const cv::Point2d kSingleRefs[2][3] = {{{12.25, 11.25}, {21.25, 11.25}, {30.25, 11.25}},
                                       {{25.75, 19.04}, {34.75, 19.04}, {16.75, 19.04}}};
const int kDestStep[3] = {0, 0, 1};

cv::Mat rampFrame() {
  cv::Mat frame(24, 44, CV_8UC1);
  for (int y = 0; y < frame.rows; ++y) {
    for (int x = 0; x < frame.cols; ++x)
      frame.at<uchar>(y, x) = static_cast<uchar>(10 + 2 * x + 5 * y);
  }
  return frame;
}

class ShiftedViews : public testing::StageTest {
 protected:
  void SetUp() override {
    makeStage(makeCalibration(9.0, {1, 1}, kSingleRefs), 3);
    ASSERT_EQ(renderer->viewSize, cv::Size(40, 21));
  }

  // The estimation's rendering of `view` with every lens at `size`, put in
  // that view's place of images.multiViewImage; a view outside the grid
  // renders nothing.
  void renderAtSize(cv::Point view, int size) {
    cv::Mat typeViews[kLensTypes];
    for (int type = 0; type < kLensTypes; ++type) {
      renderer->renderTypeViewAtSize(images, type, view, size, typeViews[type], lines());
    }
    const bool inside = view.x >= 0 && view.x < 3 && view.y >= 0 && view.y < 3;
    for (int type = 0; type < kLensTypes; ++type) {
      if (inside) {
        images.multiViewImage[type][view.x][view.y] = typeViews[type];
      } else {
        EXPECT_TRUE(typeViews[type].empty()) << "type " << type;
      }
    }
  }

  void prepare(const cv::Mat& frame) {
    images.rawImage = frame.clone();
    renderer->prepareRawImage(images);
  }

  // The ramp seen through type L's lens in view (x, y), hand-derived above.
  cv::Mat expectedRampView(int L, int x, int y) const {
    cv::Mat view = cv::Mat::zeros(21, 40, CV_8UC1);
    const cv::Point corner(8 + 9 * L + kDestStep[x], 7 + kDestStep[y]);
    const cv::Mat& mask = renderer->lensMask;
    for (int v = 0; v < 9; ++v) {
      for (int u = 0; u < 9; ++u) {
        if (mask.at<uchar>(v, u) == 255) {
          view.at<uchar>(corner.y + v, corner.x + u) = 54 + 18 * L + 2 * x + 5 * y + 2 * u + 5 * v;
        }
      }
    }
    return view;
  }

  void setPatchSizes(int size) {
    for (cv::Mat& sizes : renderer->patchSize) sizes.setTo(size);
  }
};

TEST_F(ShiftedViews, ViewsMoveTheirSamplePointsByWholePixels) {
  prepare(rampFrame());
  setPatchSizes(7);
  renderer->renderMultiViewImage(images, lines());
  EXPECT_EQ(console, "");
  for (int L = 0; L < 3; ++L) {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        EXPECT_TRUE(sameImage(images.multiViewImage[L][x][y], expectedRampView(L, x, y)))
            << "type " << L << " view " << x << "," << y;
      }
    }
  }
  // Worked sample: type 0, view (2, 1), patch (4, 4) at view (9 + 4, 7 + 4):
  // 54 + 4 + 5 + 8 + 20 = 91, the frame's (7 + 2 + 4, 6 + 1 + 4) = (13, 11): 10 + 26 + 55.
  EXPECT_EQ(images.multiViewImage[0][2][1].at<uchar>(11, 13), 91);
}

TEST_F(ShiftedViews, SourceCornersUseASinglePrecisionScaleAndRoundHalfToEven) {
  prepare(rampFrame());

  // Type 0 moved to (12, 11.25); view (1, 1), size 7 + 2 = 9, k = 1: the
  // sample point (13, 12.25) gives the corner (round(8.5), round(7.75)) = (8, 8),
  // the tie going to the even 8. Patch sample (u, v) is frame (7 + u, 7 + v):
  // 10 + 14 + 2 u + 35 + 5 v. Destination (round(7.5 + 0.3889), round(6.75 + 0.3889)) = (8, 7).
  renderer->calib.subGridRefPos[0][0] = {12.0, 11.25};
  renderAtSize({1, 1}, 7);
  cv::Mat expected = cv::Mat::zeros(21, 40, CV_8UC1);
  for (int v = 0; v < 9; ++v) {
    for (int u = 0; u < 9; ++u) {
      if (renderer->lensMask.at<uchar>(v, u) == 255)
        expected.at<uchar>(7 + v, 8 + u) = 59 + 2 * u + 5 * v;
    }
  }
  EXPECT_TRUE(sameImage(images.multiViewImage[0][1][1], expected));
  EXPECT_EQ(console, "");

  // Type 0 moved to (13, 40), size 5 + 2 = 7 (level 4: 46 x 26 scaled by
  // 9f / 7f = 1.28571427 is 59 x 33). Sample point (14, 41): corner x =
  // round(1.28571427 x 14 - 4.5) = round(13.4999998) = 13; with 9 / 7 in
  // double it would be the tie 13.5, giving 14. Corner y = round(48.21) = 48:
  // below the level, so the line shows the corner. The destination (round(8.889),
  // round(35.889)) = (9, 36) lies below the view as well.
  renderer->calib.subGridRefPos[0][0] = {13.0, 40.0};
  renderAtSize({1, 1}, 5);
  EXPECT_EQ(console,
            "Out of Roi Range: (59,33) -> [9 x 9 from (13, 48)]\n"
            "Out of Roi Range: (40,21) -> [9 x 9 from (9, 36)]\n");
  EXPECT_TRUE(sameImage(images.multiViewImage[0][1][1], cv::Mat::zeros(21, 40, CV_8UC1)));
}

TEST_F(ShiftedViews, SizesWithoutALevelTakeTheNearestOne) {
  prepare(rampFrame());
  // 200 + 2 is beyond the largest level (size 9): rendered as size 9.
  setPatchSizes(200);
  renderer->renderMultiViewImage(images, lines());
  EXPECT_TRUE(sameImage(images.multiViewImage[2][2][0], expectedRampView(2, 2, 0)));

  // 0 + 2 is below the first candidate (3): rendered as size 3, like the
  // initial patch size 1.
  setPatchSizes(1);
  renderer->renderMultiViewImage(images, lines());
  const cv::Mat asSizeThree = images.multiViewImage[1][0][2].clone();
  setPatchSizes(0);
  renderer->renderMultiViewImage(images, lines());
  EXPECT_TRUE(sameImage(images.multiViewImage[1][0][2], asSizeThree));

  // Fixed sizes likewise, including a negative one.
  renderAtSize({1, 1}, 1);
  const cv::Mat fixedThree = images.multiViewImage[0][1][1].clone();
  renderAtSize({1, 1}, -40);
  EXPECT_TRUE(sameImage(images.multiViewImage[0][1][1], fixedThree));
  EXPECT_EQ(console, "");
}

TEST_F(ShiftedViews, SingleViewModeRendersOneGreyViewAtTheGivenSize) {
  // Constant colour (100, 150, 200); grey (100 x 9798 + 150 x 19235 + 200 x 3735 + 16384) >> 15 =
  // 141.
  const cv::Scalar colour(100, 150, 200);
  prepare(cv::Mat(24, 44, CV_8UC3, colour));
  const cv::Mat untouched(1, 1, CV_8UC1, cv::Scalar(77));
  for (auto& grid : images.multiViewImage) {
    for (auto& column : grid) {
      for (cv::Mat& view : column) view = untouched;
    }
  }

  renderAtSize({2, 0}, 7);
  for (int L = 0; L < 3; ++L) {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        const cv::Mat& view = images.multiViewImage[L][x][y];
        if (x != 2 || y != 0) {
          EXPECT_EQ(view.data, untouched.data) << "type " << L << " view " << x << "," << y;
          continue;
        }
        // Size 7 + 2 = 9: the level at the frame's own size; landing at (9 + 9 L, 7).
        cv::Mat expected = cv::Mat::zeros(21, 40, CV_8UC1);
        cv::Mat(9, 9, CV_8UC1, cv::Scalar(141))
            .copyTo(expected(cv::Rect(9 + 9 * L, 7, 9, 9)), renderer->lensMask);
        EXPECT_TRUE(sameImage(view, expected)) << "type " << L;
      }
    }
  }

  // The full rendering of the same colour frame is in colour, every lens at
  // its initial patch size 1 (size 3, level 0, k = 3: windows at
  // (32 + 27 L + 3 x, 29 + 3 y) on 138 x 78, well inside the constant frame).
  renderer->renderMultiViewImage(images, lines());
  for (int L = 0; L < 3; ++L) {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        cv::Mat expected = cv::Mat::zeros(21, 40, CV_8UC3);
        const cv::Rect at(8 + 9 * L + kDestStep[x], 7 + kDestStep[y], 9, 9);
        cv::Mat(9, 9, CV_8UC3, colour).copyTo(expected(at), renderer->lensMask);
        EXPECT_TRUE(sameImage(images.multiViewImage[L][x][y], expected))
            << "type " << L << " view " << x << "," << y;
      }
    }
  }
}

TEST_F(ShiftedViews, ViewPositionsOutsideTheGridRenderNothing) {
  prepare(rampFrame());
  for (auto& grid : images.multiViewImage) {
    for (auto& column : grid) {
      for (cv::Mat& view : column) view.release();
    }
  }
  renderAtSize({3, 1}, 7);
  renderAtSize({-1, 0}, 7);
  for (const auto& grid : images.multiViewImage) {
    for (const auto& column : grid) {
      for (const cv::Mat& view : column) EXPECT_TRUE(view.empty());
    }
  }
}

}  // namespace
}  // namespace plenoview
