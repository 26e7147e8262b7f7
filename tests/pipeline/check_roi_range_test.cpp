#include "renderer/multi_view_renderer.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

namespace plenoview {
namespace {

// What checkRoiRange printed on std::cout while deciding.
struct RoiCase {
  cv::Rect window;
  bool inside;
  std::string printed;
};

TEST(CheckRoiRange, AcceptsWindowsInsideAndReportsTheRest) {
  const cv::Mat image(380, 412, CV_8UC3);  // 412 wide, 380 high
  const RoiCase cases[] = {
      {{0, 0, 25, 25}, true, ""},
      // Touching the right and bottom edges exactly is inside.
      {{387, 355, 25, 25}, true, ""},
      {{0, 0, 412, 380}, true, ""},
      // One pixel more in either direction is reported.
      {{388, 355, 25, 25}, false, "Out of Roi Range: (412,380) -> [25 x 25 from (388, 355)]\n"},
      {{387, 356, 25, 25}, false, "Out of Roi Range: (412,380) -> [25 x 25 from (387, 356)]\n"},
      // A negative corner is reported even though the window would fit.
      {{-3, 17, 25, 25}, false, "Out of Roi Range: (412,380) -> [25 x 25 from (-3, 17)]\n"},
      {{-1, 0, 9, 9}, false, "Out of Roi Range: (412,380) -> [9 x 9 from (-1, 0)]\n"},
      {{0, -1, 9, 11}, false, "Out of Roi Range: (412,380) -> [9 x 11 from (0, -1)]\n"},
  };
  for (const RoiCase& c : cases) {
    std::ostringstream captured;
    std::streambuf* const original = std::cout.rdbuf(captured.rdbuf());
    const bool inside = checkRoiRange(image, c.window);
    std::cout.rdbuf(original);
    EXPECT_EQ(inside, c.inside) << c.window;
    EXPECT_EQ(captured.str(), c.printed) << c.window;
  }
}

TEST(CheckRoiRange, ReadsOnlyTheImageSize) {
  // An empty image has no inside at all, except for an empty window at 0.
  std::ostringstream captured;
  std::streambuf* const original = std::cout.rdbuf(captured.rdbuf());
  const bool emptyWindow = checkRoiRange(cv::Mat(), cv::Rect(0, 0, 0, 0));
  const bool oneByOne = checkRoiRange(cv::Mat(), cv::Rect(0, 0, 1, 1));
  std::cout.rdbuf(original);
  EXPECT_TRUE(emptyWindow);
  EXPECT_FALSE(oneByOne);
  EXPECT_EQ(captured.str(), "Out of Roi Range: (0,0) -> [1 x 1 from (0, 0)]\n");
}

}  // namespace
}  // namespace plenoview
