#include "pipeline/align_lens_types.h"

#include "renderer/multi_view_renderer.h"
#include "renderer/view_geometry.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::placeType;
using testing::sameImage;

cv::Mat greyRow(std::initializer_list<uchar> values) {
  return cv::Mat(std::vector<uchar>(values), true).t();
}

TEST(ShiftImage, MovesGreyRowsAndRepeatsTheEdgeByte) {
  const cv::Mat row = greyRow({1, 2, 3, 4, 5});
  struct Case {
    int dx;
    cv::Mat expected;
  };
  const Case cases[] = {
      {2, greyRow({1, 1, 1, 2, 3})},
      {-2, greyRow({3, 4, 5, 5, 5})},
      {0, greyRow({1, 2, 3, 4, 5})},
      {4, greyRow({1, 1, 1, 1, 1})},
      // A shift of the whole row or more leaves only the edge byte.
      {7, greyRow({1, 1, 1, 1, 1})},
      {-9, greyRow({5, 5, 5, 5, 5})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "dx " << c.dx);
    cv::Mat apart;
    shiftImage(row, apart, cv::Point(c.dx, 0));
    EXPECT_TRUE(sameImage(apart, c.expected));
    cv::Mat inPlace = row.clone();
    shiftImage(inPlace, inPlace, cv::Point(c.dx, 0));
    EXPECT_TRUE(sameImage(inPlace, c.expected));
  }
}

TEST(ShiftImage, FillsColourPixelsByteWise) {
  const cv::Mat row = (cv::Mat_<cv::Vec3b>(1, 4) << cv::Vec3b(10, 20, 30), cv::Vec3b(40, 50, 60),
                       cv::Vec3b(70, 80, 90), cv::Vec3b(100, 110, 120));
  // Right by 2: the first 6 bytes take the row's first byte, 10, in every
  // channel; left by 1: the last 3 bytes take the last byte, 120.
  const cv::Mat right = (cv::Mat_<cv::Vec3b>(1, 4) << cv::Vec3b(10, 10, 10), cv::Vec3b(10, 10, 10),
                         cv::Vec3b(10, 20, 30), cv::Vec3b(40, 50, 60));
  const cv::Mat left = (cv::Mat_<cv::Vec3b>(1, 4) << cv::Vec3b(40, 50, 60), cv::Vec3b(70, 80, 90),
                        cv::Vec3b(100, 110, 120), cv::Vec3b(120, 120, 120));
  cv::Mat image = row.clone();
  shiftImage(image, image, cv::Point(2, 0));
  EXPECT_TRUE(sameImage(image, right));
  image = row.clone();
  shiftImage(image, image, cv::Point(-1, 0));
  EXPECT_TRUE(sameImage(image, left));
}

TEST(ShiftImage, MovesWholeRowsVertically) {
  const cv::Mat column = (cv::Mat_<uchar>(4, 2) << 1, 2, 3, 4, 5, 6, 7, 8);
  cv::Mat down;
  shiftImage(column, down, cv::Point(0, 1));
  EXPECT_TRUE(sameImage(down, (cv::Mat_<uchar>(4, 2) << 1, 2, 1, 2, 3, 4, 5, 6)));
  cv::Mat up = column.clone();
  shiftImage(up, up, cv::Point(1, -2));
  // Right by 1 first (row by row), then up by 2 repeating the last row.
  EXPECT_TRUE(sameImage(up, (cv::Mat_<uchar>(4, 2) << 5, 5, 7, 7, 7, 7, 7, 7)));
}

// Diameter 8 (shifts 1..7 are tried), N = 2 (centre view (1, 1)), views of
// 30 x 6. Reference x of types 0, 1, 2: 2, 10, 18, so type 0 is left, 1
// middle, 2 right. The middle type's reference (10, 0) spans, with its mirror
// (30 - 10, 6 - 0) = (20, 6), the compared region: columns 10..19, all rows.
class AlignLensTypesTest : public testing::StageTest {
 protected:
  void SetUp() override {
    makeStage(makeCalibration(8.0, {1, 1}), 2);
    placeType(*renderer, 0, {2, 0}, {2, 0});
    placeType(*renderer, 1, {10, 0}, {10, 0});
    placeType(*renderer, 2, {18, 0}, {18, 0});
    renderer->viewSize = cv::Size(30, 6);
  }

  // A view whose pixel (r, c) is value(c).
  static cv::Mat columns(int (*value)(int)) {
    cv::Mat view(6, 30, CV_8UC1);
    for (int r = 0; r < 6; ++r) {
      for (int c = 0; c < 30; ++c) view.at<uchar>(r, c) = static_cast<uchar>(value(c));
    }
    return view;
  }

  // Every view of `type` gets columns(value).
  void fillType(int type, int (*value)(int)) {
    for (int x = 0; x < 2; ++x) {
      for (int y = 0; y < 2; ++y) images.multiViewImage[type][x][y] = columns(value);
    }
  }
};

TEST_F(AlignLensTypesTest, ShiftsOuterTypesByTheBestMatchingShift) {
  // Left type: c + 1. Inside the region (columns 10..19) that is 11..20,
  // black outside. Moved right by 3 those values land on columns 13..22, which
  // is the middle type's view: c - 2 there, 0 elsewhere. Shift 3 differs
  // nowhere, every other shift somewhere.
  fillType(0, [](int c) { return c + 1; });
  fillType(1, [](int c) { return c >= 13 && c <= 22 ? c - 2 : 0; });
  fillType(2, [](int c) { return c + 101; });
  renderer->alignLensTypes(images);
  // Left type right by 3: columns 0..2 repeat the first byte 1, then 1..27.
  const cv::Mat left = columns([](int c) { return c < 3 ? 1 : c - 2; });
  // Right type left by 3: 104..130, then the last byte 130 three times.
  const cv::Mat right = columns([](int c) { return c < 27 ? c + 104 : 130; });
  const cv::Mat middle = columns([](int c) { return c >= 13 && c <= 22 ? c - 2 : 0; });
  for (int x = 0; x < 2; ++x) {
    for (int y = 0; y < 2; ++y) {
      SCOPED_TRACE(::testing::Message() << "view " << x << ", " << y);
      EXPECT_TRUE(sameImage(images.multiViewImage[0][x][y], left));
      EXPECT_TRUE(sameImage(images.multiViewImage[1][x][y], middle));
      EXPECT_TRUE(sameImage(images.multiViewImage[2][x][y], right));
    }
  }
}

TEST_F(AlignLensTypesTest, EqualCountsKeepTheSmallerShift) {
  // The left view is black inside the region, so every shifted base is black,
  // like the middle view: every shift differs nowhere, shift 1 stays.
  fillType(0, [](int c) { return c < 10 || c > 19 ? 50 : 0; });
  fillType(1, [](int) { return 0; });
  fillType(2, [](int c) { return c + 1; });
  renderer->alignLensTypes(images);
  EXPECT_TRUE(sameImage(images.multiViewImage[0][1][1], columns([](int c) {
                          return c < 1 ? 50 : (c - 1 < 10 || c - 1 > 19 ? 50 : 0);
                        })));
  EXPECT_TRUE(sameImage(images.multiViewImage[2][0][0],
                        columns([](int c) { return c < 29 ? c + 2 : 30; })));
}

TEST_F(AlignLensTypesTest, NoShiftWhenNoneBeatsThePixelCount) {
  // The middle view is 9 everywhere, the base never is: every shift differs at
  // all 180 pixels, which does not beat the start, so the types stay put.
  fillType(0, [](int c) { return c + 1; });
  fillType(1, [](int) { return 9; });
  fillType(2, [](int c) { return c + 101; });
  renderer->alignLensTypes(images);
  EXPECT_TRUE(sameImage(images.multiViewImage[0][0][1], columns([](int c) { return c + 1; })));
  EXPECT_TRUE(sameImage(images.multiViewImage[2][1][0], columns([](int c) { return c + 101; })));
}

TEST(AlignmentRegion, IsClampedToTheView) {
  struct Case {
    cv::Point2d middle;
    cv::Rect expected;
  };
  const Case cases[] = {
      // P = (10, 2) (2.5 rounds to even 2), Q = (20, 4).
      {{10.0, 2.5}, cv::Rect(10, 2, 10, 2)},
      // P = (-5, 0), Q = (35, 6): wider than the view on both sides.
      {{-5.0, 0.0}, cv::Rect(0, 0, 30, 6)},
      // P = (40, 2), Q = (-10, 4): columns -10..39, cut to 0..29.
      {{40.0, 2.0}, cv::Rect(0, 2, 30, 2)},
  };
  for (const Case& c : cases) {
    // Types 1 and 2 at 0: no type lies one diameter right of the leftmost, so
    // the middle role falls back to type 0.
    LensCalibration calib;
    calib.diameter = 8.0;
    calib.subGridRefPos[0][0] = c.middle;
    EXPECT_EQ(alignmentRegion(calib, cv::Size(30, 6)), c.expected) << c.middle;
  }
}

}  // namespace
}  // namespace plenoview
