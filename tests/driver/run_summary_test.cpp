#include "driver/run_summary.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace plenoview {
namespace {

TEST(FormatSummary, CountsWallTimeAndMeanTimePerFrameDone) {
  struct Case {
    RunSummary summary;
    const char* line;
  };
  // The mean is frameSeconds / done: 12.32 / 8 = 1.54, 0.5 / 1 = 0.50.
  const Case cases[] = {
      {{true, 8, 0, 0, 12.34, 12.32},
       "summary: 8 frames done, 0 skipped, 0 failed in 12.3 s (1.54 s/frame)"},
      {{true, 1, 2, 1, 0.04, 0.5},
       "summary: 1 frame done, 2 skipped, 1 failed in 0.0 s (0.50 s/frame)"},
      // Nothing done: no mean to give.
      {{true, 0, 5, 0, 3.0, 0}, "summary: 0 frames done, 5 skipped, 0 failed in 3.0 s"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatSummary(c.summary), c.line);
}

TEST(DescribeFrames, JoinsRunsOfConsecutiveFramesIntoRanges) {
  std::vector<int> frames(180);
  std::iota(frames.begin(), frames.end(), 0);
  frames.push_back(200);
  for (int k = 250; k <= 260; ++k) frames.push_back(k);
  EXPECT_EQ(describeFrames(frames), "0-179, 200, 250-260");
  EXPECT_EQ(describeFrames({}), "");
  EXPECT_EQ(describeFrames({7}), "7");
  EXPECT_EQ(describeFrames({7, 8}), "7-8");
  EXPECT_EQ(describeFrames({1, 3, 5, 7}, 2), "1, 3, ...");
  EXPECT_EQ(describeFrames({1, 3}, 2), "1, 3");
}

}  // namespace
}  // namespace plenoview
