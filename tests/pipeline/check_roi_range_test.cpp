#include "pipeline/check_roi_range.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plenoview {
namespace {

// What checkRoiRange decided and reported.
struct RoiCase {
  cv::Rect window;
  bool inside;
  std::string line;
};

TEST(CheckRoiRange, AcceptsWindowsInsideAndReportsTheRest) {
  const cv::Mat image(380, 412, CV_8UC3);  // 412 wide, 380 high
  const RoiCase cases[] = {
      {{0, 0, 25, 25}, true, ""},
      // Touching the right and bottom edges exactly is inside.
      {{387, 355, 25, 25}, true, ""},
      {{0, 0, 412, 380}, true, ""},
      // One pixel more in either direction is reported.
      {{388, 355, 25, 25}, false, "Out of Roi Range: (412,380) -> [25 x 25 from (388, 355)]"},
      {{387, 356, 25, 25}, false, "Out of Roi Range: (412,380) -> [25 x 25 from (387, 356)]"},
      // A negative corner is reported even though the window would fit.
      {{-3, 17, 25, 25}, false, "Out of Roi Range: (412,380) -> [25 x 25 from (-3, 17)]"},
      {{-1, 0, 9, 9}, false, "Out of Roi Range: (412,380) -> [9 x 9 from (-1, 0)]"},
      {{0, -1, 9, 11}, false, "Out of Roi Range: (412,380) -> [9 x 11 from (0, -1)]"},
  };
  for (const RoiCase& c : cases) {
    std::vector<std::string> lines;
    const LineSink report = [&lines](const std::string& line) { lines.push_back(line); };
    EXPECT_EQ(checkRoiRange(image, c.window, report), c.inside) << c.window;
    const std::vector<std::string> expected =
        c.line.empty() ? std::vector<std::string>() : std::vector<std::string>{c.line};
    EXPECT_EQ(lines, expected) << c.window;
    // Without a sink the answer is the same and the line goes nowhere.
    EXPECT_EQ(checkRoiRange(image, c.window, LineSink()), c.inside) << c.window;
  }
}

TEST(CheckRoiRange, ReadsOnlyTheImageSize) {
  // An empty image has no inside at all, except for an empty window at 0.
  std::vector<std::string> lines;
  const LineSink report = [&lines](const std::string& line) { lines.push_back(line); };
  EXPECT_TRUE(checkRoiRange(cv::Mat(), cv::Rect(0, 0, 0, 0), report));
  EXPECT_FALSE(checkRoiRange(cv::Size(0, 0), cv::Rect(0, 0, 1, 1), report));
  EXPECT_EQ(lines, std::vector<std::string>{"Out of Roi Range: (0,0) -> [1 x 1 from (0, 0)]"});
}

}  // namespace
}  // namespace plenoview
