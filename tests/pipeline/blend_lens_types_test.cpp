#include "pipeline/blend_lens_types.h"

#include "base/instruction_set.h"
#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::makeRenderer;
using testing::sameImage;

// The tables are compared with the closed form below, which leaves out the
// common factor 1 / (sqrt(2 pi) sigma) that normalising cancels; the two
// differ only by rounding in the last bits.
constexpr double kTolerance = 1e-12;

// Candidates 3..21: sigma = (21 - 3) / 4 = 4.5, 2 sigma^2 = 40.5, means 3, 12
// and 21: w_k(l) = e_k / (e_0 + e_1 + e_2) with e_k = exp(-(l - mean_k)^2 / 40.5).
double closedForm(int k, int l) {
  double e[3];
  for (int i = 0; i < 3; ++i) {
    const double d = l - (3 + 9 * i);
    e[i] = std::exp(-d * d / 40.5);
  }
  return e[k] / (e[0] + e[1] + e[2]);
}

TEST(LensTypeWeights, NormalisedGaussiansOverTheCandidateRange) {
  const LensTypeWeights w = lensTypeWeights(3, 21, 23);
  for (int k = 0; k < 3; ++k) ASSERT_EQ(w[k].size(), 23u);
  for (int l = 0; l < 23; ++l) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(w[k][l], closedForm(k, l), kTolerance) << "type " << k << " size " << l;
    }
    EXPECT_NEAR(w[0][l] + w[1][l] + w[2][l], 1.0, kTolerance) << "size " << l;
  }
  // The same to three places, as worked out by hand:
  //   size 0:  e = exp(-9/40.5), exp(-144/40.5), exp(-441/40.5)
  //   size 3:  e = 1, exp(-2), exp(-8)
  //   size 12: e = exp(-2), 1, exp(-2)
  //   size 21: the mirror of size 3.
  const struct {
    int size;
    double w0, w1, w2;
  } rounded[] = {
      {0, 0.966, 0.034, 0.000},
      {3, 0.881, 0.119, 0.000},
      {12, 0.107, 0.787, 0.107},
      {21, 0.000, 0.119, 0.881},
  };
  for (const auto& r : rounded) {
    EXPECT_NEAR(w[0][r.size], r.w0, 0.0005) << "size " << r.size;
    EXPECT_NEAR(w[1][r.size], r.w1, 0.0005) << "size " << r.size;
    EXPECT_NEAR(w[2][r.size], r.w2, 0.0005) << "size " << r.size;
  }
  EXPECT_NEAR(w[2][3], std::exp(-8.0) / (1 + std::exp(-2.0) + std::exp(-8.0)), kTolerance);
  // Mirror about the middle size 12.
  EXPECT_NEAR(w[0][21], w[2][3], kTolerance);
  EXPECT_NEAR(w[1][21], w[1][3], kTolerance);
  EXPECT_NEAR(w[2][21], w[0][3], kTolerance);
}

// Diameter 23.5: candidates 3..21, tables of 23 entries. One view (N = 1) of
// 4 x 1 pixels; the middle type is 0 (all reference lenses at 0), and its
// patch map reads 0, 3, 9, 12 along the row.
class BlendLensTypesTest : public testing::StageTest {
 protected:
  void SetUp() override {
    makeStage(makeCalibration(23.5, {1, 1}), 1);
    renderer->viewSize = cv::Size(4, 1);
    images.patchMap[0] = (cv::Mat_<uchar>(1, 4) << 0, 3, 9, 12);
    // The other maps are never read.
    images.patchMap[1] = cv::Mat(1, 4, CV_8UC1, cv::Scalar(12));
    images.patchMap[2] = cv::Mat(1, 4, CV_8UC1, cv::Scalar(12));
  }

  void fill(int type, const cv::Scalar& value, int matType) {
    images.multiViewImage[type][0][0] = cv::Mat(1, 4, matType, value);
  }
};

TEST_F(BlendLensTypesTest, GreyTermsAreTruncated) {
  images.rawImage = cv::Mat(2, 2, CV_8UC1);
  fill(0, cv::Scalar(200), CV_8UC1);
  fill(1, cv::Scalar(100), CV_8UC1);
  fill(2, cv::Scalar(50), CV_8UC1);
  // Surplus entries of an earlier run are dropped.
  ViewGrid grid(3, std::vector<cv::Mat>(3));
  renderer->blendLensTypes(images, grid);
  ASSERT_EQ(grid.size(), 1u);
  ASSERT_EQ(grid[0].size(), 1u);
  // 200 w0 + 100 w1 + 50 w2, each truncated:
  //   size 0:  193.11 + 3.44 + 0.00   -> 193 + 3 + 0  = 196
  //   size 3:  176.11 + 11.92 + 0.01  -> 176 + 11 + 0 = 187
  //   size 9:  66.29 + 64.55 + 1.15   -> 66 + 64 + 1  = 131
  //   size 12: 21.30 + 78.70 + 5.33   -> 21 + 78 + 5  = 104
  EXPECT_TRUE(sameImage(grid[0][0], (cv::Mat_<uchar>(1, 4) << 196, 187, 131, 104)));
}

TEST_F(BlendLensTypesTest, ColourTermsAreRoundedAndTheSumSaturates) {
  images.rawImage = cv::Mat(2, 2, CV_8UC3);
  fill(0, cv::Scalar(255, 200, 0), CV_8UC3);
  fill(1, cv::Scalar(255, 100, 0), CV_8UC3);
  fill(2, cv::Scalar(255, 50, 0), CV_8UC3);
  ViewGrid grid;
  renderer->blendLensTypes(images, grid);
  // Channel 0, 255 in every type, each term rounded:
  //   size 0:  246.21 + 8.78 + 0.01    -> 246 + 9 + 0    = 255
  //   size 3:  224.54 + 30.39 + 0.08   -> 225 + 30 + 0   = 255
  //   size 9:  84.51 + 164.61 + 5.87   -> 85 + 165 + 6   = 256, saturated to 255
  //   size 12: 27.16 + 200.68 + 27.16  -> 27 + 201 + 27  = 255
  // Channel 1, 200 / 100 / 50 as in the grey case but rounded:
  //   196, 176 + 12 + 0 = 188, 66 + 65 + 1 = 132, 21 + 79 + 5 = 105.
  const cv::Mat expected = (cv::Mat_<cv::Vec3b>(1, 4) << cv::Vec3b(255, 196, 0),
                            cv::Vec3b(255, 188, 0), cv::Vec3b(255, 132, 0), cv::Vec3b(255, 105, 0));
  ASSERT_EQ(grid.size(), 1u);
  EXPECT_TRUE(sameImage(grid[0][0], expected));
}

// Wide rows go sixteen bytes at a time (32 with AVX2) where the patch map
// holds one size for long enough; every byte must still be the sum of the
// three terms S x w_k[size] (rounded, ties to even, for colour; truncated for
// grey), saturated, on the baseline and the AVX2 path alike. Row r < 24 of the
// map holds size r for every entry, then 250 (read as the last entry); row 24
// holds runs of 1, 5, 6, 17, 35 and 32 pixels; row 24 + n (n = 1 .. 80) starts
// with a run of n pixels, so that runs of every length, with and without a
// tail after the last full step, are covered.
TEST(BlendLensTypes, WideRowsFollowTheSumOfTermsByteByByte) {
  constexpr int kWidth = 96;
  const LensTypeWeights w = lensTypeWeights(3, 21, 23);
  cv::Mat map(105, kWidth, CV_8UC1);
  for (int r = 0; r < 24; ++r) map.row(r).setTo(r < 23 ? r : 250);
  const int runs[][2] = {{1, 4}, {5, 20}, {6, 9}, {17, 12}, {35, 7}, {32, 15}};
  int c = 0;
  for (const auto& run : runs) {
    for (int i = 0; i < run[0] && c < kWidth; ++i) map.at<uchar>(24, c++) = run[1];
  }
  for (int n = 1; n <= 80; ++n) {
    map.row(24 + n).setTo(n % 23 == 5 ? 6 : 5);
    map.row(24 + n).colRange(0, n).setTo(n % 23);
  }
  cv::RNG rng(23);
  struct AllowAvx2Again {
    ~AllowAvx2Again() { allowAvx2(true); }
  } allowAgain;
  for (const int type : {CV_8UC1, CV_8UC3}) {
    for (const bool avx2 : {false, true}) {
      allowAvx2(avx2);
      auto renderer = makeRenderer(makeCalibration(23.5, {1, 1}), 1);
      renderer->viewSize = map.size();
      FrameImages images = testing::frameImagesFor(*renderer);
      images.rawImage = cv::Mat(2, 2, type);
      for (int t = 0; t < 3; ++t) {
        images.patchMap[t] = map.clone();
        cv::Mat& view = images.multiViewImage[t][0][0];
        view.create(map.size(), type);
        rng.fill(view, cv::RNG::UNIFORM, 0, 256);
      }
      ViewGrid grid;
      renderer->blendLensTypes(images, grid);

      const int channels = CV_MAT_CN(type);
      cv::Mat expected(map.size(), type);
      for (int r = 0; r < map.rows; ++r) {
        for (int b = 0; b < kWidth * channels; ++b) {
          const int size = std::min<int>(map.at<uchar>(r, b / channels), 22);
          int sum = 0;
          for (int t = 0; t < 3; ++t) {
            const double product = images.multiViewImage[t][0][0].ptr<uchar>(r)[b] * w[t][size];
            sum += channels == 3 ? static_cast<int>(std::nearbyint(product))
                                 : static_cast<int>(product);
          }
          expected.ptr<uchar>(r)[b] = static_cast<uchar>(std::min(sum, 255));
        }
      }
      ASSERT_EQ(grid.size(), 1u);
      EXPECT_TRUE(sameImage(grid[0][0], expected)) << channels << " channel(s), AVX2 " << avx2;
    }
  }
}

}  // namespace
}  // namespace plenoview
