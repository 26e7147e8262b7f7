#include "pipeline/scored_pixels.h"

#include "base/instruction_set.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <vector>

namespace plenoview {
namespace {

TEST(RimLaplacian, EqualsOpenCvsLaplacianOnTheRuns) {
  // Views from one pixel to wider than a vector step; runs of whole rows and
  // runs of one to nine pixels anywhere, the first and last columns
  // included (mirrored neighbours). The pixels off the runs keep their 77.
  // A hand-derived pixel first: centre 10, sides 20, 30, 0, 5 give
  // 3 x 55 - 120 = 45.
  {
    const cv::Mat view = (cv::Mat_<uchar>(3, 3) << 0, 20, 0, 0, 10, 5, 0, 30, 0);
    cv::Mat out(3, 3, CV_8UC1, cv::Scalar::all(77));
    rimLaplacian(view, {0, 0, 1, 1}, {{1, 2}}, out);
    EXPECT_EQ(out.at<uchar>(1, 1), 45);
    EXPECT_EQ(cv::countNonZero(out != 77), 1);
  }
  // Both instruction sets: the AVX2 steps take sixteen pixels.
  struct AllowAvx2Again {
    ~AllowAvx2Again() { allowAvx2(true); }
  } allowAgain;
  for (const bool avx2 : {false, true}) {
    allowAvx2(avx2);
    cv::RNG rng(5);
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(2, 3), cv::Size(9, 1), cv::Size(1, 7),
                                cv::Size(17, 5), cv::Size(40, 12), cv::Size(83, 4)}) {
      cv::Mat view(size, CV_8UC1);
      rng.fill(view, cv::RNG::UNIFORM, 0, 256);
      cv::Mat expected;
      cv::Laplacian(view, expected, CV_8U, 1, 3.0, 0.0, cv::BORDER_REFLECT_101);
      for (const bool wholeRows : {true, false}) {
        std::vector<int> rowStart = {0};
        std::vector<ColumnSpan> runs;
        for (int y = 0; y < size.height; ++y) {
          for (int x = 0; x < size.width;) {
            const int length = wholeRows ? size.width : rng.uniform(1, 10);
            const int end = std::min(size.width, x + length);
            runs.push_back({x, end});
            x = end + (wholeRows ? 0 : rng.uniform(1, 12));
          }
          rowStart.push_back(static_cast<int>(runs.size()));
        }
        cv::Mat out(size, CV_8UC1, cv::Scalar::all(77));
        rimLaplacian(view, rowStart, runs, out);
        for (int y = 0; y < size.height; ++y) {
          for (int n = rowStart[y]; n < rowStart[y + 1]; ++n) {
            for (int x = runs[n].begin; x < runs[n].end; ++x) {
              EXPECT_EQ(out.at<uchar>(y, x), expected.at<uchar>(y, x))
                  << size << " pixel " << x << "," << y << " AVX2 " << avx2;
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace plenoview
