// The measuring helpers of plenoview-quality, on inputs small enough to work
// out by hand.

#include "tools/quality/quality_measures.h"

#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"
#include "tests/tools/synth/synth_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

namespace plenoview::quality {
namespace {

// PSNR values are compared to four decimals of the hand calculation.
constexpr double kDecibelTolerance = 1e-4;

TEST(SquaredError, PsnrOfKnownDifferences) {
  // 2 x 2 grey image, one sample 4 above the reference of 10:
  // MSE = 16 / 4 = 4, PSNR = 10 log10(65025 / 4) = 10 x 4.2110204 = 42.11020 dB.
  cv::Mat image(2, 2, CV_8UC1, cv::Scalar(10));
  image.at<uchar>(1, 1) = 14;
  const cv::Mat reference(2, 2, CV_64FC1, cv::Scalar(10.0));
  SquaredError error;
  error.add(image, reference, cv::Rect(0, 0, 2, 2));
  EXPECT_EQ(error.samples, 4);
  EXPECT_EQ(error.sum, 16.0);
  EXPECT_NEAR(error.psnr(), 42.11020, kDecibelTolerance);

  // The region leaves the differing sample out: nothing differs.
  SquaredError left;
  left.add(image, reference, cv::Rect(0, 0, 1, 2));
  EXPECT_EQ(left.samples, 2);
  EXPECT_TRUE(std::isinf(left.psnr()) && left.psnr() > 0);

  // A region reaching outside counts only the samples inside.
  SquaredError clipped;
  clipped.add(image, reference, cv::Rect(1, 1, 5, 5));
  EXPECT_EQ(clipped.samples, 1);
  EXPECT_EQ(clipped.sum, 16.0);

  EXPECT_TRUE(std::isnan(SquaredError().psnr()));
}

TEST(SquaredError, CountsEveryChannelAndGathersOverImages) {
  // Colour: one pixel, channels off by 0, 3 and -6 against a reference of 100.
  // Then a second, grey image off by 3 in its only sample.
  // Sum = 0 + 9 + 36 + 9 = 54 over 3 + 1 = 4 samples: MSE 13.5,
  // PSNR = 10 log10(65025 / 13.5) = 10 x 3.6827466 = 36.82747 dB.
  const cv::Mat colour(1, 1, CV_8UC3, cv::Scalar(100, 103, 94));
  const cv::Mat colourReference(1, 1, CV_64FC3, cv::Scalar(100, 100, 100));
  const cv::Mat grey(1, 1, CV_8UC1, cv::Scalar(53));
  const cv::Mat greyReference(1, 1, CV_64FC1, cv::Scalar(50.0));
  SquaredError error;
  error.add(colour, colourReference, cv::Rect(0, 0, 1, 1));
  error.add(grey, greyReference, cv::Rect(0, 0, 1, 1));
  EXPECT_EQ(error.samples, 4);
  EXPECT_EQ(error.sum, 54.0);
  EXPECT_NEAR(error.psnr(), 36.82747, kDecibelTolerance);
}

TEST(ShiftedTexture, SamplesBetweenColumnsAndRepeatsTheEdges) {
  const cv::Mat row = (cv::Mat_<uchar>(1, 4) << 0, 10, 20, 40);
  struct Case {
    double shift;
    double expected[4];
  };
  // result(x) = row(x + shift), linear between columns, clamped to 0 .. 3.
  const Case cases[] = {
      {0.0, {0, 10, 20, 40}},
      {0.5, {5, 15, 30, 40}},      // x = 3 samples 3.5, clamped to 3
      {-1.25, {0, 0, 7.5, 17.5}},  // 0.75 between 0 and 10, 1.75 between 10 and 20
      {2.0, {20, 40, 40, 40}},
  };
  for (const Case& c : cases) {
    const cv::Mat result = shiftedTexture(row, c.shift);
    ASSERT_EQ(result.type(), CV_64FC1);
    ASSERT_EQ(result.size(), row.size());
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(result.at<double>(0, x), c.expected[x]) << "shift " << c.shift << " x " << x;
  }

  // Channels are sampled each on their own, every row alike.
  cv::Mat colour(2, 2, CV_8UC3);
  colour.at<cv::Vec3b>(0, 0) = colour.at<cv::Vec3b>(1, 0) = {0, 100, 200};
  colour.at<cv::Vec3b>(0, 1) = colour.at<cv::Vec3b>(1, 1) = {10, 50, 210};
  const cv::Mat shifted = shiftedTexture(colour, 0.25);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(shifted.at<cv::Vec3d>(y, 0), cv::Vec3d(2.5, 87.5, 202.5)) << "row " << y;
    EXPECT_EQ(shifted.at<cv::Vec3d>(y, 1), cv::Vec3d(10, 50, 210)) << "row " << y;
  }
}

// D = 10 (radius 5, g = (5 - 1) / 10 = 0.4), N = 3 (border 1), 5 lenses per
// row, 8 rows; type 0's even rows start at x = 20, its odd rows at x = 5, its
// rows at y = 10 + 8.660 j.
//
// Centre view x of a lens at raw x: (x + 1 - 20) x 0.4 + 20.
//   even rows: first 21 -> 20.4, last 21 + 4 x 30 = 141 -> 68.4
//   odd rows:  first 6  -> 14.4, last 126 -> 62.4
//   span 20.4 .. 62.4, less a radius on each side: 25.4 .. 57.4 -> x 26 .. 57
// Centre view y: row 0 at 11 -> 10.4; row 7 at 10 + 60.622 + 1 = 71.622 -> 34.649
//   less a radius: 15.4 .. 29.649 -> y 16 .. 29
TEST(CoveredInterior, SpansTheLensCentresLessARadius) {
  const cv::Point2d refs[2][3] = {{{20, 10}, {30, 10}, {40, 10}},
                                  {{5, 18.66}, {15, 18.66}, {25, 18.66}}};
  auto renderer = testing::makeRenderer(testing::makeCalibration(10.0, {5, 8}, refs), 3);
  renderer->viewSize = cv::Size(80, 60);

  EXPECT_EQ(coveredInterior(*renderer, 0, 0.0), cv::Rect(26, 16, 32, 14));
  // x + 30 <= 79 keeps x <= 49; x - 27.5 >= 0 keeps x >= 28.
  EXPECT_EQ(coveredInterior(*renderer, 0, 30.0), cv::Rect(26, 16, 24, 14));
  EXPECT_EQ(coveredInterior(*renderer, 0, -27.5), cv::Rect(28, 16, 30, 14));
  // Nothing left when the shift moves every sample off the texture.
  EXPECT_TRUE(coveredInterior(*renderer, 0, 80.0).empty());

  // A grid of one lens per row covers no width at all.
  auto narrow = testing::makeRenderer(testing::makeCalibration(10.0, {1, 8}, refs), 3);
  narrow->viewSize = cv::Size(80, 60);
  EXPECT_TRUE(coveredInterior(*narrow, 0, 0.0).empty());
}

TEST(CountEstimates, CountsInteriorLensesByTrueSize) {
  LensCalibration calib;
  calib.num = {5, 4};  // interior: rows 1 and 2, columns 1, 2 and 3
  const cv::Mat truth = (cv::Mat_<uchar>(4, 5) << 9, 9, 9, 9, 9,  //
                         9, 5, 5, 7, 9,                           //
                         9, 7, 7, 7, 9,                           //
                         9, 9, 9, 9, 9);
  const cv::Mat estimated = (cv::Mat_<uchar>(4, 5) << 3, 3, 3, 3, 3,  //
                             3, 5, 6, 8, 3,                           //
                             3, 5, 7, 9, 3,                           //
                             3, 3, 3, 3, 3);
  SizeTable table;
  countEstimates(calib, estimated, truth, 1, table);
  // Size 5: (1,1) exact, (1,2) one off. Size 7: (1,3) one off, (2,1) two off,
  // (2,2) exact, (2,3) two off. The border lenses of size 9 are not counted.
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[5].lenses, 2);
  EXPECT_EQ(table[5].exact, 1);
  EXPECT_EQ(table[5].withinOneStep, 2);
  EXPECT_EQ(table[7].lenses, 4);
  EXPECT_EQ(table[7].exact, 1);
  EXPECT_EQ(table[7].withinOneStep, 2);

  // Counts add up over calls; a step of 2 takes the two-off lenses in.
  countEstimates(calib, estimated, truth, 2, table);
  EXPECT_EQ(table[7].lenses, 8);
  EXPECT_EQ(table[7].exact, 2);
  EXPECT_EQ(table[7].withinOneStep, 2 + 4);
}

TEST(ReadGeneratedSet, ReadsFramesTruthAndShifts) {
  const std::string dir = plenoview::testing::makeTestDir();
  synth::SynthOptions options = synth::testing::plainOptions(dir);
  options.frames = 2;
  options.colour = false;
  synth::testing::synthesizeAndRead(options);

  const GeneratedSet set = readGeneratedSet(dir);
  EXPECT_EQ(set.views, 3);
  ASSERT_EQ(set.frames.size(), 2u);
  ASSERT_EQ(set.textures.size(), 2u);
  ASSERT_EQ(set.truePatchSizes.size(), 2u);
  EXPECT_EQ(set.frames[1].size(), cv::Size(120, 96));
  EXPECT_EQ(set.frames[1].type(), CV_8UC1);
  EXPECT_EQ(set.truePatchSizes[1][2].size(), cv::Size(set.calib.num.x, set.calib.num.y));
  // d = 9: g = 3.5 / 9, the types' first lenses a diameter apart, so the
  // outer types' views lie (1 - g) x 9 = 5.5 pixels to either side of the
  // middle one's, whose shift is 0.
  EXPECT_EQ(set.calib.diameter, 9.0);
  int zero = 0;
  for (const double shift : set.typeShift) {
    EXPECT_TRUE(std::abs(std::abs(shift) - 5.5) < 1e-9 || shift == 0.0) << shift;
    zero += shift == 0.0;
  }
  EXPECT_EQ(zero, 1);
  EXPECT_NEAR(set.typeShift[0] + set.typeShift[1] + set.typeShift[2], 0.0, 1e-9);

  std::filesystem::remove(dir + "/truth/texture_f0001.png");
  EXPECT_EQ(plenoview::testing::refusal([&] { readGeneratedSet(dir); }),
            "cannot read \"" + dir + "/truth/texture_f0001.png\"");
}

}  // namespace
}  // namespace plenoview::quality
