// saveViews and Ctrl-C: the views are written under final names only when
// whole, and a recorded interrupt stops the frame after the file in hand.
#include "base/interrupt.h"
#include "io/view_files.h"
#include "renderer/multi_view_renderer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<MultiViewRenderer> rendererWithViews(int N) {
  LensCalibration calib;
  calib.diameter = 20;
  calib.radius = 10;
  calib.num = {3, 5};
  calib.center = {100, 50};
  return std::make_unique<MultiViewRenderer>(calib, N);
}

// View (x, y) is a 2 x 3 grey image of value 10 x + y + 1.
ViewGrid numberedViews(int N) {
  ViewGrid grid(N, std::vector<cv::Mat>(N));
  for (int x = 0; x < N; ++x) {
    for (int y = 0; y < N; ++y) grid[x][y] = cv::Mat(3, 2, CV_8UC1, cv::Scalar(10 * x + y + 1));
  }
  return grid;
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Clears the recorded signal however the test ends.
struct ClearInterrupt {
  ~ClearInterrupt() { requestInterrupt(0); }
};

TEST(SaveViews, WritesEveryViewUnderItsNameInTheOutputFolder) {
  const std::string dir = testing::makeTestDir();
  const auto renderer = rendererWithViews(2);
  renderer->saveViews(numberedViews(2), 7, dir + "/out");
  EXPECT_EQ(namesIn(dir + "/out/Result"),
            (std::vector<std::string>{"Result_f0007_c0000.png", "Result_f0007_c0001.png",
                                      "Result_f0007_c0100.png", "Result_f0007_c0101.png"}));
  // c0100 is view x = 1, y = 0: value 11.
  EXPECT_TRUE(testing::sameImage(
      cv::imread(dir + "/out/Result/Result_f0007_c0100.png", cv::IMREAD_UNCHANGED),
      cv::Mat(3, 2, CV_8UC1, cv::Scalar(11))));
}

TEST(SaveViews, AnInterruptStopsAfterTheFileInHand) {
  struct Case {
    int signal;
    int exitStatus;
    const char* message;
  };
  const Case cases[] = {
      {SIGINT, 130, "interrupted by SIGINT at frame 7; rerun with --resume to finish"},
      {SIGTERM, 143, "interrupted by SIGTERM at frame 7; rerun with --resume to finish"},
  };
  const ClearInterrupt clear;
  const auto renderer = rendererWithViews(3);
  for (const Case& c : cases) {
    const std::string dir = testing::makeTestDir();
    requestInterrupt(c.signal);
    try {
      renderer->saveViews(numberedViews(3), 7, dir);
      ADD_FAILURE() << "not interrupted";
    } catch (const InterruptedError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(e.exitStatus, c.exitStatus);
    }
    // Writing goes y outer, x inner: the first file is view (0, 0), and it is whole.
    EXPECT_EQ(namesIn(dir + "/Result"), (std::vector<std::string>{"Result_f0007_c0000.png"}));
    EXPECT_TRUE(isWholePng(dir + "/Result/Result_f0007_c0000.png"));
  }
}

TEST(SaveViews, AnInterruptDuringTheLastViewLetsTheFrameComplete) {
  const ClearInterrupt clear;
  const std::string dir = testing::makeTestDir();
  const auto renderer = rendererWithViews(1);
  requestInterrupt(SIGINT);
  EXPECT_NO_THROW(renderer->saveViews(numberedViews(1), 3, dir));
  EXPECT_EQ(namesIn(dir + "/Result"), (std::vector<std::string>{"Result_f0003_c0000.png"}));
}

}  // namespace
}  // namespace plenoview
