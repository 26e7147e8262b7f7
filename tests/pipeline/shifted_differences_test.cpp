#include "pipeline/shifted_differences.h"

#include "pipeline/align_lens_types.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

// The count is defined by what it replaces: shift the base with shiftImage,
// then count the pixels where the absolute difference is not zero. Values
// from a four-letter alphabet make equal and unequal bytes both common;
// widths and shifts around 16 reach every branch of the 16-byte steps, and
// a region cut from a larger image has rows that are not contiguous.
TEST(CountShiftedDifferences, EqualsCountingTheShiftedImage) {
  cv::RNG rng(14);
  for (const int width : {1, 5, 15, 16, 17, 31, 33, 70}) {
    cv::Mat wideBase(4, width + 9, CV_8UC1);
    cv::Mat wideCompared(4, width + 9, CV_8UC1);
    rng.fill(wideBase, cv::RNG::UNIFORM, 0, 4);
    rng.fill(wideCompared, cv::RNG::UNIFORM, 0, 4);
    const cv::Mat base = wideBase(cv::Rect(3, 0, width, 4));
    const cv::Mat compared = wideCompared(cv::Rect(5, 0, width, 4));
    for (const int shift : {0, 1, 7, 15, 16, 17, 30, 54, 69, 70, 100}) {
      cv::Mat shifted;
      cv::Mat difference;
      shiftImage(base.clone(), shifted, cv::Point(shift, 0));
      cv::absdiff(compared, shifted, difference);
      EXPECT_EQ(countShiftedDifferences(compared, base, shift), cv::countNonZero(difference))
          << "width " << width << " shift " << shift;
    }
  }
}

}  // namespace
}  // namespace plenoview
