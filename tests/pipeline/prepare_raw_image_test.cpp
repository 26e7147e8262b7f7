#include "pipeline/prepare_raw_image.h"

#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace plenoview {
namespace {

// The grids are hand-made with every lens at the origin: only the diameter and
// N matter to the frame's preparation.
using testing::makeCalibration;
using testing::makeRenderer;
using testing::sameImage;

// A frame whose samples differ from their neighbours, channel by channel.
cv::Mat rampFrame(cv::Size size, int type) {
  cv::Mat frame(size, type);
  uchar* data = frame.data;
  for (size_t i = 0; i < frame.total() * frame.elemSize(); ++i)
    data[i] = static_cast<uchar>(1 + (i * 7) % 250);
  return frame;
}

TEST(PrepareRawImage, BuildsOneLevelPerSizeInSinglePrecision) {
  // Diameter 23: lensMask 23 wide, candidates 3..21, plus 2 levels for 22 and
  // 23: 21 levels. Level of size s: f = 23f / float(s), sides trunc(side x f)
  // in float. 2000 x 23/5: f = 4.5999999, the product 9199.9998 rounds to the
  // float 9200 (in double it would truncate to 9199); likewise 23/10 and 23/20.
  const int widths[21] = {15333, 11500, 9200, 7666, 6571, 5750, 5111, 4600, 4181, 3833, 3538,
                          3285,  3066,  2875, 2705, 2555, 2421, 2300, 2190, 2090, 2000};
  const int heights[21] = {15, 11, 9, 7, 6, 5, 5, 4, 4, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2};
  auto renderer = makeRenderer(makeCalibration(23.0, {1, 1}), 1);
  FrameImages images;
  renderer->options.buildAllScaleLevels = true;
  images.rawImage = rampFrame({2000, 2}, CV_8UC1);
  renderer->prepareRawImage(images);

  ASSERT_EQ(images.scaledRawImage.size(), 1u);
  ASSERT_EQ(images.scaledRawImage[0].size(), 21u);
  for (int i = 0; i < 21; ++i) {
    EXPECT_EQ(images.scaledRawImage[0][i].size(), cv::Size(widths[i], heights[i])) << "level " << i;
    EXPECT_EQ(images.scaledRawImage[0][i].type(), CV_8UC1) << "level " << i;
  }
  // The level of size 23 is the padded frame at its own size: a plain copy.
  EXPECT_TRUE(sameImage(images.scaledRawImage[0][20], images.rawImage));
}

TEST(PrepareRawImage, PadsByHalfTheViewsPerSide) {
  struct Case {
    int viewNum;
    int border;
  };
  for (const Case c : {Case{1, 0}, Case{3, 1}, Case{4, 2}}) {
    auto renderer = makeRenderer(makeCalibration(9.0, {1, 1}), c.viewNum);
    FrameImages images;
    const cv::Mat frame = rampFrame({5, 3}, CV_8UC3);
    images.rawImage = frame.clone();
    renderer->prepareRawImage(images);
    EXPECT_EQ(images.rawBorder, c.border) << "N " << c.viewNum;
    cv::Mat expected = cv::Mat::zeros(3 + 2 * c.border, 5 + 2 * c.border, CV_8UC3);
    frame.copyTo(expected(cv::Rect(c.border, c.border, 5, 3)));
    EXPECT_TRUE(sameImage(images.rawImage, expected)) << "N " << c.viewNum;
  }
}

TEST(PrepareRawImage, ColourFramesGetGreyAndColourLevels) {
  // Diameter 9: candidates 3..7, 7 levels. A constant colour (100, 150, 200)
  // scales to itself; its grey is (100 x 9798 + 150 x 19235 + 200 x 3735 +
  // 16384) >> 15 = 4628434 >> 15 = 141 (0.299 x 100 + 0.587 x 150 + 0.114 x 200 = 140.75).
  auto renderer = makeRenderer(makeCalibration(9.0, {1, 1}), 1);
  FrameImages images;
  renderer->options.buildAllScaleLevels = true;
  images.rawImage = cv::Mat(4, 6, CV_8UC3, cv::Scalar(100, 150, 200));
  renderer->prepareRawImage(images);
  ASSERT_EQ(images.scaledRawImage.size(), 2u);
  ASSERT_EQ(images.scaledRawImage[0].size(), 7u);
  ASSERT_EQ(images.scaledRawImage[1].size(), 7u);
  // Level 0 (size 3): 6 x 3 = 18 by 4 x 3 = 12. Level 6 (size 9): the frame itself.
  const int levels[] = {0, 6};
  const cv::Size sizes[] = {{18, 12}, {6, 4}};
  for (int n = 0; n < 2; ++n) {
    const int i = levels[n];
    EXPECT_TRUE(sameImage(images.scaledRawImage[1][i],
                          cv::Mat(sizes[n], CV_8UC3, cv::Scalar(100, 150, 200))))
        << "level " << i;
    EXPECT_TRUE(sameImage(images.scaledRawImage[0][i], cv::Mat(sizes[n], CV_8UC1, cv::Scalar(141))))
        << "level " << i;
  }

  // A grey frame after a colour one drops the colour entry.
  images.rawImage = cv::Mat(4, 6, CV_8UC1, cv::Scalar(60));
  renderer->prepareRawImage(images);
  ASSERT_EQ(images.scaledRawImage.size(), 1u);
  ASSERT_EQ(images.scaledRawImage[0].size(), 7u);
  EXPECT_TRUE(sameImage(images.scaledRawImage[0][0], cv::Mat(12, 18, CV_8UC1, cv::Scalar(60))));
  EXPECT_TRUE(sameImage(images.scaledRawImage[0][6], cv::Mat(4, 6, CV_8UC1, cv::Scalar(60))));
}

TEST(PrepareRawImage, BuildsNoLevelsWithoutCandidates) {
  // A hand-made renderer may have no candidates; nothing is then cut from any
  // level, and none is built.
  auto renderer = makeRenderer(makeCalibration(9.0, {1, 1}), 1);
  FrameImages images;
  renderer->candidatePatchSizes.clear();
  renderer->options.buildAllScaleLevels = true;
  images.rawImage = cv::Mat(4, 6, CV_8UC1, cv::Scalar(60));
  renderer->prepareRawImage(images);
  ASSERT_EQ(images.scaledRawImage.size(), 1u);
  EXPECT_TRUE(images.scaledRawImage[0].empty());
}

TEST(PrepareRawImage, ARegionOfALargerImageTakesItsSurroundingsAsBorder) {
  // As copyMakeBorder does for a region with pixels around it: the border is
  // those pixels, not black. N = 3: a border of 1.
  auto renderer = makeRenderer(makeCalibration(9.0, {1, 1}), 3);
  FrameImages images;
  cv::Mat whole(6, 8, CV_8UC1);
  for (int i = 0; i < 48; ++i) whole.data[i] = static_cast<uchar>(10 + i);
  images.rawImage = whole(cv::Rect(2, 1, 4, 3));
  renderer->prepareRawImage(images);
  EXPECT_TRUE(sameImage(images.rawImage, whole(cv::Rect(1, 0, 6, 5))));

  // Without room on every side (the region touches the top), a copy made by
  // copyMakeBorder, black where there are no pixels around.
  FrameImages other;
  other.rawImage = whole(cv::Rect(2, 0, 4, 3));
  renderer->prepareRawImage(other);
  // It still takes the pixels there are: below, and left and right.
  cv::Mat reference;
  cv::copyMakeBorder(whole(cv::Rect(2, 0, 4, 3)), reference, 1, 1, 1, 1, cv::BORDER_CONSTANT,
                     cv::Scalar::all(0));
  EXPECT_TRUE(sameImage(other.rawImage, reference));
  EXPECT_EQ(other.rawImage.at<uchar>(0, 0), 0);        // above: nothing there, black
  EXPECT_EQ(other.rawImage.at<uchar>(4, 0), 10 + 25);  // below-left: whole(3, 1)
}

}  // namespace
}  // namespace plenoview
