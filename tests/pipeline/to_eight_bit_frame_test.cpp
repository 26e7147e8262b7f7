#include "pipeline/to_eight_bit_frame.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <limits>

namespace plenoview {
namespace {

using testing::sameImage;

TEST(ToEightBitFrame, KeepsEightBitGreyAndColourFramesAsTheyAre) {
  const cv::Mat grey(3, 4, CV_8UC1, cv::Scalar(7));
  const cv::Mat colour(3, 4, CV_8UC3, cv::Scalar(1, 2, 3));
  // Shared handles: no pixel copy for frames that already fit.
  EXPECT_EQ(toEightBitFrame(grey).data, grey.data);
  EXPECT_EQ(toEightBitFrame(colour).data, colour.data);
  EXPECT_TRUE(toEightBitFrame(cv::Mat()).empty());
}

TEST(ToEightBitFrame, DropsAlpha) {
  const cv::Mat greyAlpha(2, 3, CV_8UC2, cv::Scalar(40, 255));
  EXPECT_TRUE(sameImage(toEightBitFrame(greyAlpha), cv::Mat(2, 3, CV_8UC1, cv::Scalar(40))));

  cv::Mat colourAlpha(2, 3, CV_8UC4, cv::Scalar(10, 20, 30, 0));
  colourAlpha.at<cv::Vec4b>(1, 2) = {200, 100, 50, 128};
  cv::Mat expected(2, 3, CV_8UC3, cv::Scalar(10, 20, 30));
  expected.at<cv::Vec3b>(1, 2) = {200, 100, 50};
  EXPECT_TRUE(sameImage(toEightBitFrame(colourAlpha), expected));
}

TEST(ToEightBitFrame, IntegerDepthsKeepTheirHighBits) {
  struct Case {
    const char* what;
    cv::Mat frame;
    cv::Mat expected;
  };
  const Case cases[] = {
      // 16-bit unsigned: the high byte. 0x1234 -> 0x12 = 18.
      {"16U", (cv::Mat_<ushort>(1, 6) << 0, 255, 256, 511, 0x1234, 65535),
       (cv::Mat_<uchar>(1, 6) << 0, 0, 1, 1, 18, 255)},
      // Signed: negatives are 0; 0..127 -> v x 2; 0..32767 -> v >> 7; 0..2^31-1 -> v >> 23.
      {"8S", (cv::Mat_<schar>(1, 5) << -128, -1, 0, 1, 127),
       (cv::Mat_<uchar>(1, 5) << 0, 0, 0, 2, 254)},
      {"16S", (cv::Mat_<short>(1, 5) << -5, 0, 127, 128, 32767),
       (cv::Mat_<uchar>(1, 5) << 0, 0, 0, 1, 255)},
      {"32S", (cv::Mat_<int>(1, 4) << -1, 8388607, 8388608, 2147483647),
       (cv::Mat_<uchar>(1, 4) << 0, 0, 1, 255)},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(sameImage(toEightBitFrame(c.frame), c.expected)) << c.what;

  // Sixteen-bit colour with alpha: alpha dropped, each channel's high byte.
  const cv::Mat deepColourAlpha(1, 1, CV_16UC4, cv::Scalar(0x1234, 0x5678, 0x9ABC, 0xFFFF));
  EXPECT_TRUE(sameImage(toEightBitFrame(deepColourAlpha),
                        cv::Mat(1, 1, CV_8UC3, cv::Scalar(0x12, 0x56, 0x9A))));
}

TEST(ToEightBitFrame, FloatFramesAreIntensitiesFromZeroToOne) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // 0.5 x 255 = 127.5 -> 128; 0.25 x 255 = 63.75 -> 64; the float 0.9 is
  // 0.89999997..., x 255 = 229.49999... -> 229; the float 0.2 x 255 = 51.0000008 -> 51.
  const cv::Mat single =
      (cv::Mat_<float>(1, 10) << -0.25f, 0.0f, 0.2f, 0.25f, 0.5f, 0.9f, 1.0f, 2.0f, inf, nan);
  EXPECT_TRUE(sameImage(toEightBitFrame(single),
                        (cv::Mat_<uchar>(1, 10) << 0, 0, 51, 64, 128, 229, 255, 255, 255, 0)));

  // The double 0.9 x 255 is exactly 229.5 in double precision: ties to even give 230.
  const cv::Mat twice = (cv::Mat_<double>(1, 4) << -inf, 0.5, 0.9, 1.0);
  EXPECT_TRUE(sameImage(toEightBitFrame(twice), (cv::Mat_<uchar>(1, 4) << 0, 128, 230, 255)));

  cv::Mat half;
  single.convertTo(half, CV_16F);  // 0.5, 1.0 and 0 survive exactly
  const cv::Mat halfEight = toEightBitFrame(half);
  ASSERT_EQ(halfEight.type(), CV_8UC1);
  EXPECT_EQ(halfEight.at<uchar>(0, 1), 0);
  EXPECT_EQ(halfEight.at<uchar>(0, 4), 128);
  EXPECT_EQ(halfEight.at<uchar>(0, 6), 255);

  const cv::Mat floatColourAlpha(1, 1, CV_32FC4, cv::Scalar(1.0, 0.5, 0.0, 1.0));
  EXPECT_TRUE(sameImage(toEightBitFrame(floatColourAlpha),
                        cv::Mat(1, 1, CV_8UC3, cv::Scalar(255, 128, 0))));
}

}  // namespace
}  // namespace plenoview
