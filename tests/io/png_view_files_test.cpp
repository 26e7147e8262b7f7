#include "io/png_view_files.h"

#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "io/image_headers.h"
#include "tests/io/write_frame.h"
#include "tests/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::sameImage;

TEST(ViewFileName, FrameFieldAndViewFieldsWidenForLargeNumbers) {
  EXPECT_EQ(viewFileName(7, 0, 0), "Result_f0007_c0000.png");
  EXPECT_EQ(viewFileName(7, 1, 2), "Result_f0007_c0102.png");
  EXPECT_EQ(viewFileName(12345, 0, 0), "Result_f12345_c0000.png");
  EXPECT_EQ(viewFileName(0, 100, 3), "Result_f0000_c10003.png");
}

// View (x, y) is a 2 x 3 grey image of value 10 x + y + 1, so every file
// shows which view it holds.
ViewGrid numberedViews(int N) {
  ViewGrid grid(N, std::vector<cv::Mat>(N));
  for (int x = 0; x < N; ++x) {
    for (int y = 0; y < N; ++y) grid[x][y] = cv::Mat(2, 3, CV_8UC1, cv::Scalar(10 * x + y + 1));
  }
  return grid;
}

// Clears the recorded signal however the test ends.
struct ClearInterrupt {
  ~ClearInterrupt() { requestInterrupt(0); }
};

class PngViewFilesTest : public ::testing::Test {
 protected:
  const std::string dir = testing::makeTestDir();
  const ViewGrid grid = numberedViews(3);
};

TEST_F(PngViewFilesTest, WritesOneFilePerViewNamedByFrameAndPosition) {
  // The output folder and its Result folder are made on the first write.
  testing::writeFrame(PngViewFiles(dir + "/out", 3), grid, 7);
  EXPECT_EQ(testing::namesIn(dir + "/out/Result"),
            (std::vector<std::string>{
                "Result_f0007_c0000.png", "Result_f0007_c0001.png", "Result_f0007_c0002.png",
                "Result_f0007_c0100.png", "Result_f0007_c0101.png", "Result_f0007_c0102.png",
                "Result_f0007_c0200.png", "Result_f0007_c0201.png", "Result_f0007_c0202.png"}));
  // c<x><y>: the file c0201 holds view x = 2, y = 1.
  const cv::Mat read = cv::imread(dir + "/out/Result/Result_f0007_c0201.png", cv::IMREAD_UNCHANGED);
  EXPECT_TRUE(sameImage(read, cv::Mat(2, 3, CV_8UC1, cv::Scalar(22))));
}

TEST_F(PngViewFilesTest, ColourViewsRoundTripAndOldFilesAreOverwritten) {
  ViewGrid colour(3, std::vector<cv::Mat>(3, cv::Mat(2, 3, CV_8UC3, cv::Scalar(1, 2, 3))));
  colour[1][0] = colour[1][0].clone();
  colour[1][0].at<cv::Vec3b>(1, 2) = cv::Vec3b(200, 100, 50);
  fs::create_directory(dir + "/Result");
  testing::writeTextFile(dir + "/Result/Result_f0000_c0100.png", "stale");
  testing::writeFrame(PngViewFiles(dir, 3), colour, 0);
  const cv::Mat read = cv::imread(dir + "/Result/Result_f0000_c0100.png", cv::IMREAD_UNCHANGED);
  EXPECT_TRUE(sameImage(read, colour[1][0]));
}

TEST_F(PngViewFilesTest, WritesRowByRowAndRemovesTheFrameWhenAViewFails) {
  // Folders where views (1, 0) and (0, 1) go. Row by row (x = 0, 1, 2 for
  // y = 0 first), the write fails at (1, 0); view (0, 0), written before it,
  // is removed again, and nothing after it is written: only the two folders
  // are left.
  fs::create_directories(dir + "/Result/Result_f0007_c0100.png");
  fs::create_directories(dir + "/Result/Result_f0007_c0001.png");
  try {
    testing::writeFrame(PngViewFiles(dir, 3), grid, 7);
    FAIL() << "a view that cannot be written went unreported";
  } catch (const PlenoviewError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Result/Result_f0007_c0100.png"));
    EXPECT_EQ(e.exitStatus, kExitFailure);
  }
  EXPECT_EQ(testing::namesIn(dir + "/Result"),
            (std::vector<std::string>{"Result_f0007_c0001.png", "Result_f0007_c0100.png"}));
}

TEST_F(PngViewFilesTest, AFrameInGroupsIsCompleteOnlyWholeAndAFailureRemovesEveryGroup) {
  // Row y = 0 goes in, then rows 1 and 2: the frame counts as complete only
  // once its ninth view is in. A second frame fails in its second group, at
  // (0, 1): the first group's three files go again, and abandoning a third
  // frame after its first group removes that group.
  const std::string folder = dir + "/Result";
  PngViewFiles views(dir, 3);
  auto row = [&](int y) {
    std::vector<FinishedView> group;
    for (int x = 0; x < 3; ++x) group.push_back({cv::Point(x, y), grid[x][y]});
    return group;
  };
  views.beginFrame(4);
  views.writeViews(row(0));
  EXPECT_TRUE(views.completeFrames(0, 10).empty());
  views.writeViews(row(1));
  views.writeViews(row(2));
  views.endFrame();
  EXPECT_EQ(views.completeFrames(0, 10), std::vector<int>{4});

  fs::create_directories(folder + "/Result_f0005_c0001.png");
  views.beginFrame(5);
  views.writeViews(row(0));
  EXPECT_THROW(views.writeViews(row(1)), PlenoviewError);
  views.beginFrame(6);
  views.writeViews(row(0));
  views.abandonFrame();
  std::vector<std::string> expected = {"Result_f0005_c0001.png"};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) expected.push_back(viewFileName(4, x, y));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testing::namesIn(folder), expected);
}

TEST_F(PngViewFilesTest, FailuresNameTheFolderOrFile) {
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
      testing::writeFrame(PngViewFiles(c.outputDir, 3), grid, 3);
      ADD_FAILURE() << "no error";
    } catch (const PlenoviewError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.named));
    }
  }
}

TEST_F(PngViewFilesTest, AnInterruptStopsAfterTheFileInHand) {
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
  for (const Case& c : cases) {
    const std::string out = dir + "/" + std::to_string(c.signal);
    requestInterrupt(c.signal);
    try {
      testing::writeFrame(PngViewFiles(out, 3), grid, 7);
      ADD_FAILURE() << "not interrupted";
    } catch (const InterruptedError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(e.exitStatus, c.exitStatus);
    }
    // Writing goes y outer, x inner: the first file is view (0, 0), and it is whole.
    EXPECT_EQ(testing::namesIn(out + "/Result"),
              (std::vector<std::string>{"Result_f0007_c0000.png"}));
    EXPECT_TRUE(isWholePng(out + "/Result/Result_f0007_c0000.png"));
  }
}

TEST_F(PngViewFilesTest, AnInterruptDuringTheLastViewLetsTheFrameComplete) {
  const ClearInterrupt clear;
  requestInterrupt(SIGINT);
  PngViewFiles views(dir, 1);
  EXPECT_NO_THROW(testing::writeFrame(views, numberedViews(1), 3));
  EXPECT_EQ(testing::namesIn(dir + "/Result"),
            (std::vector<std::string>{"Result_f0003_c0000.png"}));
  EXPECT_EQ(views.completeFrames(0, 10), (std::vector<int>{3}));
}

TEST(PngViewFiles, RemovesOnlyTemporariesOfFramesInTheRange) {
  const std::string dir = testing::makeTestDir();
  const std::string folder = dir + "/Result";
  fs::create_directory(folder);
  const std::vector<std::string> removed = {".Result_f0005_c0000.png.tmp-ab12",
                                            ".Result_f0006_c0101.png.tmp-77"};
  const std::vector<std::string> kept = {
      ".Result_f0004_c0000.png.tmp-ab12",  // before the range
      ".Result_f0007_c0000.png.tmp-ab12",  // at its end: another run's frame
      ".Result_f12345_c0000.png.tmp-1",    // far past it
      "Result_f0005_c0000.png",            // a finished view
      ".Result_fxx_c0000.png.tmp-1",       // not a frame number
      ".Result_f0005_c0000.png.tmp-",      // not our form
      ".keep",
  };
  for (const auto& name : removed) testing::writeTextFile(folder + "/" + name, "x");
  for (const auto& name : kept) testing::writeTextFile(folder + "/" + name, "x");

  EXPECT_EQ(PngViewFiles(dir, 1).removeLeftovers(5, 7), 2);
  std::vector<std::string> expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testing::namesIn(folder), expected);
  EXPECT_EQ(PngViewFiles(dir + "/nowhere", 1).removeLeftovers(0, 10), 0);
}

}  // namespace
}  // namespace plenoview
