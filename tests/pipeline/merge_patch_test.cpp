#include "pipeline/merge_patch.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

using testing::sameImage;

// A 2 x 2 mask, (row, column): 255 at (0, 0) and (1, 1); (0, 1) holds 1 and
// (1, 0) holds 254, both of which count as outside the lens.
cv::Mat diagonalMask() { return (cv::Mat_<uchar>(2, 2) << 255, 1, 254, 255); }

TEST(MergePatch, WeightsFollowAlpha) {
  const cv::Mat patch = (cv::Mat_<uchar>(1, 1) << 200);
  const cv::Mat mask = (cv::Mat_<uchar>(1, 1) << 255);
  cv::Mat target = (cv::Mat_<uchar>(1, 1) << 100);
  mergePatch(patch, target, mask, 0.25);  // 0.75 x 200 + 0.25 x 100 = 175
  EXPECT_EQ(target.at<uchar>(0, 0), 175);
  mergePatch(patch, target, mask, 1.0);  // the old value is kept
  EXPECT_EQ(target.at<uchar>(0, 0), 175);
  mergePatch(patch, target, mask, -1.0);  // 2 x 200 - 175 = 225
  EXPECT_EQ(target.at<uchar>(0, 0), 225);
  mergePatch(patch, target, mask, 3.0);  // -2 x 200 + 3 x 225 = 275, saturated
  EXPECT_EQ(target.at<uchar>(0, 0), 255);
}

TEST(MergePatch, MergesIntoARegionOfALargerImage) {
  cv::Mat view = cv::Mat::zeros(4, 5, CV_8UC1);
  view.at<uchar>(2, 3) = 51;
  const cv::Mat patch(2, 2, CV_8UC1, cv::Scalar(100));
  cv::Mat region = view(cv::Rect(2, 1, 2, 2));
  mergePatch(patch, region, diagonalMask(), 0.5);
  cv::Mat expected = cv::Mat::zeros(4, 5, CV_8UC1);
  expected.at<uchar>(1, 2) = 100;  // region (0, 0), empty before
  expected.at<uchar>(2, 3) = 75;   // region (1, 1): 51 averaged with 100
  EXPECT_TRUE(sameImage(view, expected));
}

// At weight 0.5 an empty (0) sample takes the patch whole, any other the
// truncated mean (the bytes worked by hand in half_merge_test). Rows of 16
// bytes and more are merged in 16-byte steps: every byte, grey or a colour
// channel, must still follow the rule on its own, with the mask spread over
// the channels of its pixel and only a mask value of exactly 255 counting as
// inside.
TEST(MergePatch, WideRowsFollowTheRuleByteByByte) {
  cv::RNG rng(5);
  for (const int channels : {1, 3}) {
    for (const int width : {5, 6, 16, 17, 40}) {
      cv::Mat patch(3, width, CV_8UC(channels));
      cv::Mat target(3, width, CV_8UC(channels));
      cv::Mat mask(3, width + 2, CV_8UC1);  // wider than the patch: its left part counts
      rng.fill(patch, cv::RNG::UNIFORM, 0, 256);
      rng.fill(target, cv::RNG::UNIFORM, 0, 4);  // many empty (0) samples
      for (int r = 0; r < mask.rows; ++r) {
        for (int x = 0; x < mask.cols; ++x) {
          const uchar values[] = {0, 1, 254, 255, 255};
          mask.at<uchar>(r, x) = values[rng.uniform(0, 5)];
        }
      }
      cv::Mat expected = target.clone();
      for (int r = 0; r < 3; ++r) {
        for (int b = 0; b < width * channels; ++b) {
          if (mask.at<uchar>(r, b / channels) != 255) continue;
          const int in = patch.ptr<uchar>(r)[b];
          uchar& out = expected.ptr<uchar>(r)[b];
          out = static_cast<uchar>(out == 0 ? in : (in + out) / 2);
        }
      }
      mergePatch(patch, target, mask, 0.5);
      EXPECT_TRUE(sameImage(target, expected)) << channels << " channels, width " << width;
    }
  }
}

TEST(MergePatch, LeavesTargetAloneForUnsupportedInput) {
  const cv::Mat mask(2, 2, CV_8UC1, cv::Scalar(255));
  const cv::Mat before(2, 2, CV_8UC4, cv::Scalar(1, 2, 3, 4));
  struct Case {
    const char* what;
    cv::Mat patch;
    cv::Mat target;
    cv::Mat mask;
  };
  const Case cases[] = {
      {"two channels", cv::Mat(2, 2, CV_8UC2, cv::Scalar(100, 100)),
       cv::Mat(2, 2, CV_8UC2, cv::Scalar(1, 2)), mask},
      {"four channels", cv::Mat(2, 2, CV_8UC4, cv::Scalar::all(100)), before.clone(), mask},
      {"16-bit patch", cv::Mat(2, 2, CV_16UC1, cv::Scalar(100)),
       cv::Mat(2, 2, CV_16UC1, cv::Scalar(7)), mask},
      {"grey patch, colour target", cv::Mat(2, 2, CV_8UC1, cv::Scalar(100)),
       cv::Mat(2, 2, CV_8UC3, cv::Scalar(1, 2, 3)), mask},
      {"target smaller than patch", cv::Mat(2, 2, CV_8UC1, cv::Scalar(100)),
       cv::Mat(1, 2, CV_8UC1, cv::Scalar(7)), mask},
      {"mask smaller than patch", cv::Mat(2, 2, CV_8UC1, cv::Scalar(100)),
       cv::Mat(2, 2, CV_8UC1, cv::Scalar(7)), cv::Mat(2, 1, CV_8UC1, cv::Scalar(255))},
  };
  for (const Case& c : cases) {
    cv::Mat target = c.target.clone();
    mergePatch(c.patch, target, c.mask, 0.5);
    EXPECT_TRUE(sameImage(target, c.target)) << c.what;
  }
}

}  // namespace
}  // namespace plenoview
