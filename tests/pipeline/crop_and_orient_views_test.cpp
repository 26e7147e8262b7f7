#include "base/plenoview_error.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/view_geometry.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::makeRenderer;
using testing::placeType;
using testing::sameImage;

// A view whose pixel (r, c) holds (r x 7 + c x 3) mod 251, so any misplaced
// pixel shows.
cv::Mat numbered(int rows, int cols) {
  cv::Mat view(rows, cols, CV_8UC1);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) view.at<uchar>(r, c) = static_cast<uchar>((r * 7 + c * 3) % 251);
  }
  return view;
}

// Views of 100 x 64 and the middle type's reference lens at (10.5, 8.0):
//   cw = 8 trunc((100 - 21) x 0.125) = 8 trunc(9.875) = 72, from x = 10
//   (10.5 rounds to the even 10);  ch = 8 trunc((64 - 16) x 0.125) = 48, from y = 8.
// All three types sit at the same place, so the middle role falls back to 0.
class CropAndOrientViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer = makeRenderer(makeCalibration(8.0, {1, 1}), 2);
    for (int t = 0; t < 3; ++t) placeType(*renderer, t, {10.5, 8.0}, {0, 0});
    renderer->viewSize = cv::Size(100, 64);
    grid.assign(2, std::vector<cv::Mat>(2));
    for (int x = 0; x < 2; ++x) {
      for (int y = 0; y < 2; ++y) grid[x][y] = numbered(64, 100) + cv::Scalar(x * 2 + y);
    }
  }

  std::unique_ptr<MultiViewRenderer> renderer;
  ViewGrid grid;
};

TEST_F(CropAndOrientViewsTest, CropsToMultiplesOfEightAndTurnsBeyondFortyFiveDegrees) {
  // Up to pi / 4 cut short the views are the 72 x 48 crop at the middle
  // type's reference, a region of the full view; beyond it, in either
  // direction, the crop turned counter-clockwise: 48 wide, 72 high, pixel
  // (r, c) from the crop's (c, 71 - r), i.e. the full view's (8 + c, 81 - r).
  struct Case {
    double rotation;
    bool turned;
  };
  for (const Case c : {Case{0.0, false}, Case{0.7853981625, false}, Case{-0.7853981625, false},
                       Case{-1.0, true}, Case{0.7853981626, true}}) {
    SetUp();
    renderer->calib.rotation = c.rotation;
    const ViewGrid before = grid;
    renderer->cropAndOrientViews(grid);
    for (int x = 0; x < 2; ++x) {
      for (int y = 0; y < 2; ++y) {
        SCOPED_TRACE(::testing::Message()
                     << "rotation " << c.rotation << " view " << x << ", " << y);
        const cv::Mat crop = before[x][y](cv::Rect(10, 8, 72, 48));
        if (!c.turned) {
          EXPECT_TRUE(sameImage(grid[x][y], crop));
          EXPECT_EQ(grid[x][y].data, before[x][y].ptr<uchar>(8, 10));
          continue;
        }
        cv::Mat expected(72, 48, CV_8UC1);
        for (int r = 0; r < 72; ++r) {
          for (int col = 0; col < 48; ++col)
            expected.at<uchar>(r, col) = crop.at<uchar>(col, 71 - r);
        }
        EXPECT_TRUE(sameImage(grid[x][y], expected));
      }
    }
  }
}

TEST(CropRectangle, ClampsARectangleThatLeavesTheView) {
  struct Case {
    cv::Point2d middle;
    cv::Size view;
    cv::Rect expected;
  };
  const Case cases[] = {
      {{10.5, 8.0}, {100, 64}, cv::Rect(10, 8, 72, 48)},
      // cw = 8 trunc(46.4 x 0.125) = 40 from x = -3: columns 0..36 are in the
      // view, 37 wide, trimmed to 32. ch = 8 trunc(32 x 0.125) = 32 from 4.
      {{-3.2, 4.0}, {40, 40}, cv::Rect(0, 4, 32, 32)},
      // 2.5 rounds to the even 2: cw = 8 trunc(35 x 0.125) = 32, inside.
      {{2.5, 2.5}, {40, 40}, cv::Rect(2, 2, 32, 32)},
      // Nothing left to crop: (20 - 16) x 0.125 truncates to 0.
      {{8.0, 0.0}, {20, 40}, cv::Rect()},
  };
  for (const Case& c : cases) {
    LensCalibration calib;
    calib.diameter = 8.0;
    calib.subGridRefPos[0][0] = c.middle;  // types 1 and 2 at 0: type 0 is the middle by fallback
    EXPECT_EQ(cropRectangle(calib, c.view), c.expected) << c.middle << " in " << c.view;
  }
}

TEST(CheckViewGeometry, RefusesViewsThatCropToNothing) {
  // Reference x 2, 10, 18 with diameter 8: type 1 is the middle, type 2 the
  // right type. With one lens per type and row and N = 1 the set-up makes the
  // views floor(0 + (0 + 18 + 8)) = 26 wide and 8 high, and (26 - 20) x 0.125
  // truncates to 0.
  LensCalibration calib;
  calib.diameter = 8.0;
  calib.radius = 4.0;
  calib.num = cv::Point(1, 1);
  for (int t = 0; t < 3; ++t) calib.subGridRefPos[0][t] = cv::Point2d(2 + 8 * t, 0);
  const auto renderer = makeRenderer(calib, 1);
  ASSERT_EQ(renderer->viewSize, cv::Size(26, 8));
  try {
    checkViewGeometry(renderer->calib, renderer->viewSize);
    FAIL() << "accepted views that crop to nothing";
  } catch (const PlenoviewError& e) {
    EXPECT_STREQ(e.what(),
                 "calibration: the views of 26 x 8 pixels leave nothing to crop: the first lens "
                 "of the middle lens type (lens_type id 1) lies at (10, 0) with "
                 "RayCalibData.diameter 8; check the diameter and the lens_type offsets");
  }
  // Moved left by 2 the views are 24 wide and crop to 8 x 8 from (8, 0).
  for (int t = 0; t < 3; ++t) calib.subGridRefPos[0][t].x -= 2;
  EXPECT_NO_THROW(checkViewGeometry(calib, cv::Size(24, 8)));
  EXPECT_EQ(cropRectangle(calib, cv::Size(24, 8)), cv::Rect(8, 0, 8, 8));
}

}  // namespace
}  // namespace plenoview
