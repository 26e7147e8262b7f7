#include "renderer/scale_level_windows.h"

#include "base/instruction_set.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace plenoview {
namespace {

using testing::sameImage;

cv::Mat noiseFrame(cv::Size size, int type, uint64 seed) {
  cv::Mat frame(size, type);
  cv::RNG rng(seed);
  rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
  return frame;
}

// The windows compared with cv::resize are computed by the baseline loops
// (false) and by the AVX2 ones where the CPU has them (true).
class BothBuilds : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { allowAvx2(GetParam()); }
  void TearDown() override { allowAvx2(true); }
};

TEST(ScaleLevelSize, MultipliesInSinglePrecisionAndTruncates) {
  // 23 / 5 in float is 4.5999999; 2000 x that rounds to the float 9200.
  EXPECT_EQ(scaleLevelSize({2000, 2}, 23, 5), cv::Size(9200, 9));
  // 23 / 7 = 3.2857144; 2000 x that = 6571.43 -> 6571, 2 x that = 6.57 -> 6.
  EXPECT_EQ(scaleLevelSize({2000, 2}, 23, 7), cv::Size(6571, 6));
  EXPECT_EQ(scaleLevelSize({31, 17}, 23, 23), cv::Size(31, 17));
}

TEST(NonZeroSpans, RunFromTheFirstToTheLastNonZeroPixelOfEachRow) {
  cv::Mat mask = cv::Mat::zeros(4, 6, CV_8UC1);
  mask.at<uchar>(0, 2) = 255;
  mask.at<uchar>(1, 1) = 1;  // any non-zero value counts
  mask.at<uchar>(1, 4) = 255;
  mask.row(2).setTo(255);
  const std::vector<ColumnSpan> spans = nonZeroSpans(mask);
  ASSERT_EQ(spans.size(), 4u);
  EXPECT_EQ(spans[0].begin, 2);
  EXPECT_EQ(spans[0].end, 3);
  EXPECT_EQ(spans[1].begin, 1);
  EXPECT_EQ(spans[1].end, 5);
  EXPECT_EQ(spans[2].begin, 0);
  EXPECT_EQ(spans[2].end, 6);
  EXPECT_EQ(spans[3].begin, spans[3].end);  // empty row
}

TEST(ScaleLevelWindows, FollowsTheSixteenBitVerticalPassAndTheEdgeRules) {
  // A 4 x 2 grey frame, mask 9, patch 3: f = 3, level 12 x 6. Per axis the
  // source step is 1/3.
  //   Column 0: (0.5 / 3 - 0.5) < 0 clamps to column 0 with weight 0, so the
  //   column is taken whole (h = v x 2048); column 11: 3.33 clamps to column 3.
  //   Row 2: f = float(2.5 / 3 - 0.5) = 0.33333334, rows 0 and 1, weights
  //   round(0.6666666 x 2048) = 1365 and round(0.33333334 x 2048) = 683.
  //   With 3 above 2: h0 >> 4 = 3 x 128 = 384, h1 >> 4 = 256;
  //   (1365 x 384) >> 16 = 524160 >> 16 = 7, (683 x 256) >> 16 = 174848 >> 16 =
  //   2, (7 + 2 + 2) >> 2 = 2, where a single rounding of 2.67 would give 3.
  //   Row 0: f = float(-0.33333334 + 1) = 0.6666666 from row -1; both rows clip
  //   to row 0 but keep weights 683 and 1365: (683 x 384) >> 16 = 4,
  //   (1365 x 384) >> 16 = 7, (4 + 7 + 2) >> 2 = 3.
  //   Row 3: f = 0.6666666 from row 0: (683 x 384) >> 16 = 4,
  //   (1365 x 256) >> 16 = 5, (4 + 5 + 2) >> 2 = 2.
  //   Row 5: f = 0.33333337 from row 1, row 2 clipped to 1: (1365 x 256) >> 16
  //   = 5, (683 x 256) >> 16 = 2, (5 + 2 + 2) >> 2 = 2.
  cv::Mat frame = (cv::Mat_<uchar>(2, 4) << 3, 50, 60, 3, 2, 70, 80, 2);
  ScaleLevelWindows windows;
  windows.reset(frame, 9, {3, 9});
  ASSERT_EQ(windows.levelCount(), 2);
  EXPECT_EQ(windows.levelSize(0), cv::Size(12, 6));
  cv::Mat column;
  for (const int x : {0, 11}) {
    windows.computeWindow(0, cv::Rect(x, 0, 1, 6), false, column);
    ASSERT_EQ(column.size(), cv::Size(1, 6));
    EXPECT_EQ(column.at<uchar>(0, 0), 3) << "x " << x;
    EXPECT_EQ(column.at<uchar>(2, 0), 2) << "x " << x;
    EXPECT_EQ(column.at<uchar>(3, 0), 2) << "x " << x;
    EXPECT_EQ(column.at<uchar>(5, 0), 2) << "x " << x;
  }
  // Level 1 (patch 9 for mask 9) is the frame's own size: a copy.
  cv::Mat copy;
  windows.computeWindow(1, cv::Rect(1, 0, 3, 2), false, copy);
  EXPECT_TRUE(sameImage(copy, frame(cv::Rect(1, 0, 3, 2))));
}

TEST(ScaleLevelWindows, GreyWindowsOfColourFramesUseFifteenBitWeights) {
  // (10, 20, 30): (10 x 9798 + 20 x 19235 + 30 x 3735 + 16384) >> 15
  //   = (97980 + 384700 + 112050 + 16384) >> 15 = 611114 >> 15 = 18.
  // (255, 0, 0): (2498490 + 16384) >> 15 = 76; (0, 0, 255): (952425 + 16384) >>
  // 15 = 29.
  cv::Mat frame(1, 3, CV_8UC3);
  frame.at<cv::Vec3b>(0, 0) = {10, 20, 30};
  frame.at<cv::Vec3b>(0, 1) = {255, 0, 0};
  frame.at<cv::Vec3b>(0, 2) = {0, 0, 255};
  ScaleLevelWindows windows;
  windows.reset(frame, 5, {5});
  cv::Mat grey;
  windows.computeWindow(0, cv::Rect(0, 0, 3, 1), true, grey);
  EXPECT_TRUE(sameImage(grey, (cv::Mat_<uchar>(1, 3) << 18, 76, 29)));
  cv::Mat colour;
  windows.computeWindow(0, cv::Rect(0, 0, 3, 1), false, colour);
  EXPECT_TRUE(sameImage(colour, frame));
}

// Every window of every level equals the same window of the level that
// cv::resize builds (and its cvtColor grey): whole small levels, and on large
// ones the corners, the edges and windows in between. Samples of only 0 and
// 255 drive the vertical pass to both ends of its range, where a lane that
// left 0..255 would show in the grey: those levels are compared whole. One
// object serves every case, as one serves a run: a frame of the size, type and
// mask of the one before (the first two cases) keeps its tables but must give
// its own pixels; any other gets new tables.
struct LevelCase {
  cv::Size frame;
  int type;
  int maskWidth;
  bool blackAndWhite = false;
};

TEST_P(BothBuilds, EveryWindowEqualsTheResizedLevel) {
  const LevelCase cases[] = {
      {{37, 23}, CV_8UC1, 9},        {{37, 23}, CV_8UC1, 9, true}, {{37, 23}, CV_8UC3, 9},
      {{64, 41}, CV_8UC3, 11},       {{5, 3}, CV_8UC3, 14},        {{101, 7}, CV_8UC1, 23},
      {{96, 80}, CV_8UC3, 23},       {{250, 12}, CV_8UC3, 37},     {{31, 19}, CV_8UC3, 9, true},
      {{31, 19}, CV_8UC3, 23, true}, {{31, 19}, CV_8UC3, 37, true}};
  uint64 seed = 17;
  ScaleLevelWindows windows;
  for (const LevelCase& c : cases) {
    cv::Mat frame = noiseFrame(c.frame, c.type, ++seed);
    if (c.blackAndWhite) cv::threshold(frame, frame, 127, 255, cv::THRESH_BINARY);
    std::vector<int> sizes;
    for (int s = 3; s <= c.maskWidth; ++s) sizes.push_back(s);
    windows.reset(frame, c.maskWidth, sizes);
    for (int i = 0; i < windows.levelCount(); ++i) {
      const cv::Size size = scaleLevelSize(c.frame, c.maskWidth, sizes[i]);
      ASSERT_EQ(windows.levelSize(i), size);
      cv::Mat level;
      cv::resize(frame, level, size, 0, 0, cv::INTER_LINEAR);
      cv::Mat greyLevel;
      if (c.type == CV_8UC3) cv::cvtColor(level, greyLevel, cv::COLOR_RGB2GRAY);

      std::vector<cv::Rect> rects;
      const int w = std::min(c.maskWidth, size.width);
      const int h = std::min(c.maskWidth, size.height);
      if (size.area() <= 40000 || c.blackAndWhite)
        rects.emplace_back(0, 0, size.width, size.height);
      rects.emplace_back(0, 0, w, h);
      rects.emplace_back(size.width - w, 0, w, h);
      rects.emplace_back(0, size.height - h, w, h);
      rects.emplace_back(size.width - w, size.height - h, w, h);
      cv::RNG rng(seed * 31 + i);
      for (int n = 0; n < 20; ++n) {
        rects.emplace_back(rng.uniform(0, size.width - w + 1), rng.uniform(0, size.height - h + 1),
                           w, h);
      }
      for (const cv::Rect& rect : rects) {
        cv::Mat window;
        windows.computeWindow(i, rect, false, window);
        ASSERT_TRUE(sameImage(window, level(rect)))
            << "frame " << c.frame << " type " << c.type << " mask " << c.maskWidth << " size "
            << sizes[i] << " window " << rect;
        if (c.type != CV_8UC3) continue;
        windows.computeWindow(i, rect, true, window);
        ASSERT_TRUE(sameImage(window, greyLevel(rect)))
            << "grey: frame " << c.frame << " mask " << c.maskWidth << " size " << sizes[i]
            << " window " << rect;
      }
    }
  }
}

TEST_P(BothBuilds, SpansComputeOnlyTheirColumns) {
  const cv::Mat frame = noiseFrame({30, 20}, CV_8UC3, 5);
  ScaleLevelWindows windows;
  windows.reset(frame, 13, {4});
  cv::Mat level;
  cv::resize(frame, level, windows.levelSize(0), 0, 0, cv::INTER_LINEAR);
  cv::Mat grey;
  cv::cvtColor(level, grey, cv::COLOR_RGB2GRAY);

  const std::vector<ColumnSpan> spans = {{3, 5}, {0, 9}, {2, 3}, {0, 0}, {8, 9}};
  const cv::Rect rect(40, 50, 9, 5);
  cv::Mat window(rect.size(), CV_8UC1, cv::Scalar(77));
  windows.computeWindow(0, rect, true, window, &spans);
  for (int r = 0; r < rect.height; ++r) {
    for (int x = 0; x < rect.width; ++x) {
      const bool inside = x >= spans[r].begin && x < spans[r].end;
      const int expected = inside ? grey(rect).at<uchar>(r, x) : 77;
      EXPECT_EQ(window.at<uchar>(r, x), expected) << "row " << r << " column " << x;
    }
  }
}

// mergeWindow against computeWindow and the byte rule of the half merge: a
// target byte of 0 takes the window's byte, any other the floor of the mean;
// columns outside the spans keep their bytes. Grey and colour frames, grey
// and colour windows, a level scaled up, a copy of the frame and one scaled
// down, windows 1 to 40 wide under spans that start and end anywhere, into
// a target with a row step of its own and many empty bytes.
TEST_P(BothBuilds, MergeWindowMergesTheComputedWindowAtHalfWeight) {
  cv::RNG rng(11);
  for (const int type : {CV_8UC1, CV_8UC3}) {
    const cv::Mat frame = noiseFrame({61, 47}, type, 3);
    ScaleLevelWindows windows;
    windows.reset(frame, 41, {9, 41, 53});
    for (const bool grey : {true, false}) {
      const int cn = grey ? 1 : CV_MAT_CN(type);
      for (int level = 0; level < windows.levelCount(); ++level) {
        const cv::Size size = windows.levelSize(level);
        for (int w = 1; w <= std::min(40, size.width); ++w) {
          const int h = std::min(w, size.height);
          std::vector<ColumnSpan> spans(h);
          for (int r = 0; r < h; ++r) {
            const int begin = rng.uniform(0, w);
            spans[r] = r % 5 == 4 ? ColumnSpan{0, 0} : ColumnSpan{begin, rng.uniform(begin, w) + 1};
          }
          const cv::Rect rect(rng.uniform(0, size.width - w + 1),
                              rng.uniform(0, size.height - h + 1), w, h);
          cv::Mat computed;
          windows.computeWindow(level, rect, grey, computed, &spans);
          cv::Mat target(h, w * cn + 5, CV_8UC1);
          rng.fill(target, cv::RNG::UNIFORM, 0, 256);
          target.setTo(0, target < 60);
          cv::Mat merged = target.clone();
          windows.mergeWindow(level, rect, grey, spans, merged.data, merged.step);
          for (int r = 0; r < h; ++r) {
            for (int b = 0; b < target.cols; ++b) {
              const int t = target.at<uchar>(r, b);
              const bool inside = b >= spans[r].begin * cn && b < spans[r].end * cn;
              const int p = inside ? computed.ptr<uchar>(r)[b] : 0;
              const int expected = !inside ? t : t == 0 ? p : (t + p) / 2;
              ASSERT_EQ(merged.at<uchar>(r, b), expected)
                  << "type " << type << " grey " << grey << " level " << level << " window " << rect
                  << " row " << r << " byte " << b;
            }
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ScaleLevelWindows, BothBuilds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Avx2" : "Baseline";
                         });

// The AVX2 loops give the baseline's bytes where their steps, last
// overlapping steps and fall-backs meet the window's edges: windows 1 to 40
// wide at the left and right edge of each level (where the frame row ends and
// the wide loads stop) and at its top and bottom, whole and under spans that
// start and end anywhere, grey and colour frames, grey and colour windows.
// Columns outside a span keep the 77 they start with in both.
struct BuildCase {
  int type;
  bool grey;
  bool withSpans;
};

TEST(ScaleLevelWindows, BothBuildsGiveTheSameBytes) {
  allowAvx2(true);
  if (!useAvx2()) GTEST_SKIP() << "no AVX2 on this CPU";
  const BuildCase cases[] = {{CV_8UC3, true, false},  {CV_8UC3, true, true},
                             {CV_8UC3, false, false}, {CV_8UC3, false, true},
                             {CV_8UC1, false, false}, {CV_8UC1, false, true}};
  for (const BuildCase& c : cases) {
    const cv::Mat frame = noiseFrame({53, 29}, c.type, 7);
    ScaleLevelWindows windows;
    // Levels scaled by 41/9, 41/23, 1 and 41/53.
    windows.reset(frame, 41, {9, 23, 41, 53});
    for (int level = 0; level < windows.levelCount(); ++level) {
      const cv::Size size = windows.levelSize(level);
      const int h = std::min(6, size.height);
      for (int w = 1; w <= std::min(40, size.width); ++w) {
        std::vector<ColumnSpan> spans(h);
        for (int r = 0; r < h; ++r) spans[r] = {(r * 5) % w, w - (r * 3) % w};
        for (const cv::Point at : {cv::Point(0, 0), cv::Point(size.width - w, 0),
                                   cv::Point(size.width - w, size.height - h),
                                   cv::Point((size.width - w) / 2, size.height - h)}) {
          const cv::Rect rect(at, cv::Size(w, h));
          cv::Mat byBuild[2];
          for (const bool avx2 : {false, true}) {
            allowAvx2(avx2);
            cv::Mat& out = byBuild[avx2];
            out.create(rect.size(), c.grey ? CV_8UC1 : c.type);
            out.setTo(cv::Scalar::all(77));
            windows.computeWindow(level, rect, c.grey, out, c.withSpans ? &spans : nullptr);
          }
          allowAvx2(true);
          ASSERT_TRUE(sameImage(byBuild[1], byBuild[0]))
              << "type " << c.type << " grey " << c.grey << " spans " << c.withSpans << " level "
              << level << " window " << rect;
        }
      }
    }
  }
}

}  // namespace
}  // namespace plenoview
