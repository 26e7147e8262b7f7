#include "renderer/half_merge.h"

#include <gtest/gtest.h>

#include <vector>

namespace plenoview {
namespace {

TEST(MergeHalfRow, HandDerivedBytes) {
  // inside, target, patch -> result:
  //   outside: kept; empty target: the patch; else floor((t + p) / 2):
  //   (51, 100) -> 75, (255, 254) -> 254, (1, 0) -> 0, (255, 255) -> 255.
  const uchar inside[] = {0, 255, 255, 255, 1, 255, 255};
  const uchar patch[] = {9, 100, 254, 0, 255, 7, 0};
  uchar target[] = {3, 51, 255, 1, 255, 0, 0};
  mergeHalfRow(patch, target, inside, 7);
  const uchar expected[] = {3, 75, 254, 0, 255, 7, 0};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(target[i], expected[i]) << "byte " << i;
}

// Rows of every length from 1 to 70 (the vector steps and the overlapping
// last step included) against the byte rule, on random bytes with many
// empty targets and holes in the mask. The rule's mean is checked against
// trunc(0.5 x p + 0.5 x t) in double, as the merge of any weight computes it.
TEST(MergeHalfRow, EveryLengthFollowsTheByteRule) {
  cv::RNG rng(7);
  for (int count = 1; count <= 70; ++count) {
    std::vector<uchar> patch(count), target(count), inside(count);
    for (int i = 0; i < count; ++i) {
      patch[i] = static_cast<uchar>(rng.uniform(0, 256));
      target[i] = rng.uniform(0, 4) == 0 ? 0 : static_cast<uchar>(rng.uniform(0, 256));
      inside[i] = rng.uniform(0, 3) == 0 ? 0 : 255;
    }
    std::vector<uchar> expected = target;
    for (int i = 0; i < count; ++i) {
      if (!inside[i]) continue;
      expected[i] =
          target[i] == 0 ? patch[i] : static_cast<uchar>((1.0 - 0.5) * patch[i] + 0.5 * target[i]);
    }
    std::vector<uchar> merged = target;
    mergeHalfRow(patch.data(), merged.data(), inside.data(), count);
    EXPECT_EQ(merged, expected) << "length " << count;
    // Every byte inside: the rule without a mask.
    std::vector<uchar> whole = target;
    mergeHalfRowWhole(patch.data(), whole.data(), count);
    for (int i = 0; i < count; ++i) {
      const uchar want = target[i] == 0 ? patch[i] : (target[i] + patch[i]) / 2;
      EXPECT_EQ(whole[i], want) << "length " << count << " byte " << i;
    }
    std::vector<uchar> seven = target;
    mergeHalfRowConstantWhole(7, seven.data(), count);
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(seven[i], target[i] == 0 ? 7 : (target[i] + 7) / 2) << "length " << count;
    }
    std::vector<uchar> white = target;
    mergeHalfRowConstant(255, white.data(), inside.data(), count);
    for (int i = 0; i < count; ++i) {
      const uchar want = !inside[i] ? target[i] : target[i] == 0 ? 255 : (target[i] + 255) / 2;
      EXPECT_EQ(white[i], want) << "length " << count << " byte " << i;
    }
  }
}

TEST(MergeBytes, MarkOnlyFullMaskPixelsForEveryChannel) {
  const cv::Mat mask = (cv::Mat_<uchar>(1, 3) << 255, 254, 0);
  const cv::Mat bytes = mergeBytes(mask, 3);
  ASSERT_EQ(bytes.size(), cv::Size(9, 1));
  const uchar expected[] = {255, 255, 255, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(bytes.at<uchar>(0, i), expected[i]) << "byte " << i;
}

}  // namespace
}  // namespace plenoview
