#include "base/plenoview_error.h"
#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <set>
#include <string>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::makeCalibration;
using testing::makeRenderer;
using testing::sameImage;

// Three views per side, each a 2 x 3 grey image whose pixels all hold
// 10 x + y + 1, so every file shows which view it holds.
class SaveViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer = makeRenderer(makeCalibration(8.0, {1, 1}), 3);
    dir = testing::makeTestDir();
    grid.assign(3, std::vector<cv::Mat>(3));
    for (int x = 0; x < 3; ++x) {
      for (int y = 0; y < 3; ++y) grid[x][y] = cv::Mat(2, 3, CV_8UC1, cv::Scalar(10 * x + y + 1));
    }
  }

  std::set<std::string> writtenNames() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(dir) / "Result")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::unique_ptr<MultiViewRenderer> renderer;
  std::string dir;
  ViewGrid grid;
};

TEST_F(SaveViewsTest, WritesOneFilePerViewNamedByFrameAndPosition) {
  renderer->saveViews(grid, 7, dir);
  const std::set<std::string> expected = {
      "Result_f0007_c0000.png", "Result_f0007_c0100.png", "Result_f0007_c0200.png",
      "Result_f0007_c0001.png", "Result_f0007_c0101.png", "Result_f0007_c0201.png",
      "Result_f0007_c0002.png", "Result_f0007_c0102.png", "Result_f0007_c0202.png"};
  EXPECT_EQ(writtenNames(), expected);
  // c<x><y>: the file c0201 holds view x = 2, y = 1.
  const cv::Mat read = cv::imread(dir + "/Result/Result_f0007_c0201.png", cv::IMREAD_UNCHANGED);
  EXPECT_TRUE(sameImage(read, cv::Mat(2, 3, CV_8UC1, cv::Scalar(22))));
}

TEST_F(SaveViewsTest, FrameFieldHasAtLeastFourDigitsOrNone) {
  renderer->saveViews(grid, 12345, dir);
  EXPECT_TRUE(fs::exists(dir + "/Result/Result_f12345_c0000.png"));
  EXPECT_TRUE(fs::exists(dir + "/Result/Result_f12345_c0202.png"));
  renderer->saveViews(grid, -1, dir);
  EXPECT_TRUE(fs::exists(dir + "/Result/Result_c0000.png"));
  EXPECT_TRUE(fs::exists(dir + "/Result/Result_c0102.png"));
  EXPECT_EQ(writtenNames().size(), 18u);
}

TEST_F(SaveViewsTest, ColourViewsRoundTripAndOldFilesAreOverwritten) {
  for (auto& column : grid) {
    for (cv::Mat& view : column) view = cv::Mat(2, 3, CV_8UC3, cv::Scalar(1, 2, 3));
  }
  grid[1][0].at<cv::Vec3b>(1, 2) = cv::Vec3b(200, 100, 50);
  fs::create_directory(dir + "/Result");
  testing::writeTextFile(dir + "/Result/Result_f0000_c0100.png", "stale");
  renderer->saveViews(grid, 0, dir);
  const cv::Mat read = cv::imread(dir + "/Result/Result_f0000_c0100.png", cv::IMREAD_UNCHANGED);
  EXPECT_TRUE(sameImage(read, grid[1][0]));
}

TEST_F(SaveViewsTest, WritesRowByRowAndRemovesTheFrameWhenAViewFails) {
  // Folders where views (1, 0) and (0, 1) go. Row by row (x = 0, 1, 2 for
  // y = 0 first), the write fails at (1, 0); view (0, 0), written before it,
  // is removed again, and nothing after it is written: only the two folders
  // are left.
  fs::create_directories(dir + "/Result/Result_f0007_c0100.png");
  fs::create_directories(dir + "/Result/Result_f0007_c0001.png");
  try {
    renderer->saveViews(grid, 7, dir);
    FAIL() << "a view that cannot be written went unreported";
  } catch (const PlenoviewError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Result/Result_f0007_c0100.png"));
    EXPECT_EQ(e.exitStatus, kExitFailure);
  }
  const std::set<std::string> expected = {"Result_f0007_c0100.png", "Result_f0007_c0001.png"};
  EXPECT_EQ(writtenNames(), expected);
}

TEST_F(SaveViewsTest, FailuresNameTheFolderOrFile) {
  // Permission bits do not stop root, so every case fails for another reason.
  struct Case {
    const char* what;
    std::string outputDir;
    std::string named;
  };
  testing::writeTextFile(dir + "/plain", "x");
  fs::create_directories(dir + "/full/Result");
  fs::create_symlink("/dev/full", dir + "/full/Result/Result_f0003_c0000.png");
  fs::create_directories(dir + "/resultIsAFile");
  testing::writeTextFile(dir + "/resultIsAFile/Result", "x");
  const Case cases[] = {
      {"Result is a file", dir + "/resultIsAFile", dir + "/resultIsAFile/Result\""},
      {"parent is a file", dir + "/plain", dir + "/plain/Result\""},
      {"disk full", dir + "/full", dir + "/full/Result/Result_f0003_c0000.png\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      renderer->saveViews(grid, 3, c.outputDir);
      ADD_FAILURE() << "no error";
    } catch (const PlenoviewError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.named));
    }
  }
}

}  // namespace
}  // namespace plenoview
