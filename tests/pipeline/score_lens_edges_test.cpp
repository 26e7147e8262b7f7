#include "pipeline/estimate_patch_sizes.h"
#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/stage_renderer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

using testing::CoutCapture;
using testing::makeStageRenderer;

// Rings wider than 16 pixels, so that the window sums run in 16-byte steps
// with a last, partial step; the sum must count every byte once.
TEST(ScoreLensEdgesWide, SumsEveryByteOfTheWindowOnce) {
  // Diameter 20: a window of 20 x 20 with the lens at (0, 0) of a 24 x 24
  // Laplacian. One lens, N = 1; the ring is the window's outline, 76 pixels.
  for (const int width : {16, 22, 33}) {
    auto renderer = makeStageRenderer(20.0, cv::Point(1, 1), 1);
    cv::Mat ring = cv::Mat::zeros(width, width, CV_8UC1);
    ring.row(0).setTo(255);
    ring.row(width - 1).setTo(255);
    ring.col(0).setTo(255);
    ring.col(width - 1).setTo(255);
    renderer->lensEdgeMask = ring;
    // Put the lens so that its window starts at (1, 2): viewPosition puts the
    // window's corner at round(ref - width / 2) with q scaling nothing for
    // lens (0, 0).
    const double half = width * 0.5;
    testing::placeType(*renderer, 0, {1 + half, 2 + half}, {1 + half, 2 + half});
    const cv::Mat laplacian(width + 4, width + 4, CV_8UC1, cv::Scalar(51));
    CoutCapture quiet;
    const cv::Mat scores = scoreLensEdges(*renderer, laplacian, 0, cv::Point(0, 0));
    // Ring pixels: 4 x width - 4, each 51 of 255: a fifth of the ring sum,
    // floor(20.0) = 20 (twice-counted bytes would raise it).
    EXPECT_EQ(scores.at<double>(0, 0), 20.0) << "width " << width;
    EXPECT_EQ(quiet.text(), "") << "width " << width;
  }
}

}  // namespace
}  // namespace plenoview
