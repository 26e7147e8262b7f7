#include "driver/frame_range.h"

#include "io/png_view_files.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

TEST(ResumeFrames, FindsFramesWhoseViewsAreAllWholeWithinTheRange) {
  const std::string outputDir = testing::makeTestDir();
  const std::string dir = outputDir + "/Result";
  fs::create_directory(dir);
  std::vector<uchar> png;
  cv::imencode(".png", cv::Mat(2, 2, CV_8UC1, cv::Scalar(5)), png);
  const std::string bytes(png.begin(), png.end());
  const int N = 2;
  const auto writeFrame = [&](int frame) {
    for (int y = 0; y < N; ++y) {
      for (int x = 0; x < N; ++x)
        testing::writeTextFile(dir + "/" + viewFileName(frame, x, y), bytes);
    }
  };
  for (int frame : {1, 2, 3, 4, 5, 6, 8}) writeFrame(frame);
  fs::remove(dir + "/" + viewFileName(4, 1, 1));  // interrupted after three of four views
  testing::writeTextFile(dir + "/" + viewFileName(6, 0, 1), bytes.substr(0, 40));  // cut short
  testing::writeTextFile(dir + "/.Result_f0004_c0101.png.tmp-0f0f", bytes.substr(0, 10));

  FrameRange range;
  range.first = 2;
  range.end = 8;
  PngViewFiles views(outputDir, N);
  // Every run removes the leftovers of its range; only --resume skips.
  prepareOutput(range, views, false);
  EXPECT_EQ(range.removedTemporaries, 1);
  EXPECT_FALSE(fs::exists(dir + "/.Result_f0004_c0101.png.tmp-0f0f"));
  EXPECT_TRUE(range.complete.empty());
  prepareOutput(range, views, true);
  // 1 and 8 lie outside 2 .. 7; 4 lacks a view, 6 has a cut one, 7 has none.
  EXPECT_EQ(range.complete, (std::vector<int>{2, 3, 5}));
  EXPECT_EQ(range.removedTemporaries, 0);
  EXPECT_TRUE(range.isComplete(3));
  EXPECT_FALSE(range.isComplete(4));
  EXPECT_FALSE(range.isComplete(1));

  // More views per side than were written: nothing is complete.
  PngViewFiles threeByThree(outputDir, 3);
  prepareOutput(range, threeByThree, true);
  EXPECT_TRUE(range.complete.empty());

  FrameRange nowhere;
  nowhere.first = 0;
  nowhere.end = 5;
  PngViewFiles missing(outputDir + "/missing", N);
  prepareOutput(nowhere, missing, true);
  EXPECT_TRUE(nowhere.complete.empty());
}

}  // namespace
}  // namespace plenoview
