#include "renderer/render_limits.h"

#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace plenoview {
namespace {

// The grid of the 200 x 100 frame with D = 20 (see the calibration tests),
// set up with N = 3 and then given small members that are easy to add up.
class RenderLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer = testing::makeRenderer(
        testing::makeCalibration(20, {3, 5}, testing::kRefsAtOrigin, {100, 50}), 3);
    renderer->viewSize = cv::Size(10, 20);
    renderer->lensMask = cv::Mat(6, 6, CV_8UC1);
    renderer->candidatePatchSizes = {3, 4};
  }

  // "" when accepted, the message otherwise.
  std::string refusal(cv::Size frame, double budget = kMemoryBudgetBytes) {
    return testing::refusal(
        [&] { checkRenderLimits(*renderer, frame, true, "calib.xml", budget); });
  }

  std::unique_ptr<MultiViewRenderer> renderer;
};

// An 8 x 4 frame with a border of 1 pads to 10 x 6 = 60 pixels. Levels:
// sizes 3, 4 and the extra 5, 6, factors 6/s = 2, 1.5, 1.2, 1, so levels of
// 20 x 12, 15 x 9, 12 x 7 (7.2 truncated) and 10 x 6.
//                                                          colour    grey
//   copies   4 x 60 x (3 or 1)                                720     240
//   levels   windows on demand: (20 + 12 + 15 + 9 + 12 + 7
//            + 10 + 6) = 91 table entries of 8 bytes          728     728
//            built whole: 240 + 135 + 84 + 60 = 519 pixels,
//            times 4 or 1                                    2076     519
//   views    10 x 20 = 200 pixels, 3 x 3 views, 4 grids,
//            times 3 or 1                                   21600    7200
//   maps     200 x 6                                         1200    1200
//   total with windows on demand                            24248    9368
//   total with whole levels                                 25596    9159
TEST_F(RenderLimits, EstimatesTheImagesOfOneFrame) {
  EXPECT_EQ(frameMemoryEstimate(*renderer, cv::Size(8, 4), true), 24248.0);
  EXPECT_EQ(frameMemoryEstimate(*renderer, cv::Size(8, 4), false), 9368.0);
  renderer->options.buildAllScaleLevels = true;
  EXPECT_EQ(frameMemoryEstimate(*renderer, cv::Size(8, 4), true), 25596.0);
  EXPECT_EQ(frameMemoryEstimate(*renderer, cv::Size(8, 4), false), 9159.0);
}

TEST_F(RenderLimits, RefusesAnEstimateAboveTheBudget) {
  EXPECT_EQ(refusal(cv::Size(8, 4), 24248.0), "");
  EXPECT_EQ(refusal(cv::Size(8, 4), 24247.0),
            "calibration file \"calib.xml\" (RayCalibData.diameter 20) with ViewNum 3 and a 8 x 4 "
            "frame would need about 1 GiB of image memory per frame, more than the 2.26e-05 "
            "GiB allowed");
}

TEST_F(RenderLimits, RefusesViewsOfNoPixelsOrBeyondTheLargestSide) {
  const struct {
    cv::Size view;
    bool accepted;
  } cases[] = {
      {{1, 1}, true},     {{0, 20}, false},    {{10, -3}, false},
      {{65535, 1}, true}, {{65536, 1}, false}, {{1, 65536}, false},
  };
  for (const auto& c : cases) {
    renderer->viewSize = c.view;
    const std::string message = refusal(cv::Size(8, 4));
    if (c.accepted) {
      EXPECT_EQ(message, "") << c.view;
    } else {
      EXPECT_NE(
          message.find("gives views of " + std::to_string(c.view.width) + " x " +
                       std::to_string(c.view.height) + " pixels; each side must lie in 1 .. 65535"),
          std::string::npos)
          << message;
    }
  }
}

TEST_F(RenderLimits, RefusesAScaledCopyBeyondIntRange) {
  // Level 0 scales by 6/3 = 2: a padded width of 2^30 gives 2^31.
  EXPECT_NE(refusal(cv::Size((1 << 30) - 2, 4)).find("beyond 2^31 pixels per side"),
            std::string::npos);
}

}  // namespace
}  // namespace plenoview
