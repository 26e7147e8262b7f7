#include "tools/view/patch_size_pictures.h"

#include "io/patch_size_files.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>

namespace plenoview::view {
namespace {

// The colour map's entry e, as OpenCV's own map gives it.
cv::Vec3b viridis(int e) {
  cv::Mat colour;
  cv::applyColorMap(cv::Mat(1, 1, CV_8UC1, cv::Scalar(e)), colour, cv::COLORMAP_VIRIDIS);
  return colour.at<cv::Vec3b>(0, 0);
}

TEST(PatchSizePictures, OneColourScaleOverTheFramesAndTypesShown) {
  const std::string dir = testing::makeTestDir();
  // Frames 4 and 6, lens grids of 2 lenses per row x 1 row; sizes 3 .. 7 in
  // the frames shown, 20 in frame 5, which is not shown.
  const int sizes[3][3][2] = {
      {{5, 3}, {5, 5}, {4, 5}}, {{20, 20}, {20, 20}, {20, 20}}, {{7, 5}, {6, 5}, {5, 5}}};
  for (int f = 0; f < 3; ++f) {
    for (int t = 0; t < 3; ++t) {
      cv::Mat lenses = (cv::Mat_<uchar>(1, 2) << sizes[f][t][0], sizes[f][t][1]);
      cv::imwrite(dir + "/" + patchSizeFileName(4 + f, t), lenses);
    }
  }
  const PatchSizePictures pictures = readPatchSizePictures(dir, {4, 6});
  EXPECT_EQ(pictures.low, 3);
  EXPECT_EQ(pictures.high, 7);
  // Entry (s - 3) * 255 / 4: 3 -> 0, 4 -> 63, 5 -> 127, 6 -> 191, 7 -> 255.
  ASSERT_EQ(pictures.frames.size(), 2u);
  EXPECT_TRUE(testing::sameImage(pictures.frames[0][0],
                                 (cv::Mat_<cv::Vec3b>(1, 2) << viridis(127), viridis(0))));
  EXPECT_TRUE(testing::sameImage(pictures.frames[0][2],
                                 (cv::Mat_<cv::Vec3b>(1, 2) << viridis(63), viridis(127))));
  EXPECT_TRUE(testing::sameImage(pictures.frames[1][0],
                                 (cv::Mat_<cv::Vec3b>(1, 2) << viridis(255), viridis(127))));
  EXPECT_TRUE(
      testing::sameImage(pictures.scale, (cv::Mat_<cv::Vec3b>(1, 5) << viridis(0), viridis(63),
                                          viridis(127), viridis(191), viridis(255))));
}

}  // namespace
}  // namespace plenoview::view
