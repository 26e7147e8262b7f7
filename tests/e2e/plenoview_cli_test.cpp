// Runs the real plenoview binary: argument lines, report, exit statuses, the
// one-line errors that users see, and frames of every depth.
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::summaryPattern;

class PlenoviewCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    testing::writeTextFile(dir + "/calib.xml", testing::CalibrationXml());
    cv::imwrite(dir + "/frame000.png", cv::Mat(100, 200, CV_8UC1, cv::Scalar(60)));
  }

  testing::ProcessResult plenoview(const std::vector<std::string>& args) {
    return testing::runPlenoview(args, dir);
  }

  std::string dir;
};

TEST_F(PlenoviewCli, NoFramesPrintsArgumentsAndReportAndWritesNothing) {
  const testing::ProcessResult run = plenoview({"calib.xml", "frame%03d.png", "0", "5"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, testing::argumentLines("calib.xml", "frame%03d.png", "0", 5) +
                         testing::kWorkedExampleReport);
  EXPECT_THAT(run.err,
              ::testing::MatchesRegex(summaryPattern("0 frames done, 0 skipped, 0 failed")));
  EXPECT_FALSE(fs::exists(dir + "/Result"));
}

// Usage errors (stderr, status 2, nothing on stdout) are walked by the bad-input table.
TEST_F(PlenoviewCli, HelpAndVersionGoToStdout) {
  const testing::ProcessResult help = plenoview({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.out.rfind("usage: plenoview", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");

  const testing::ProcessResult version = plenoview({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("plenoview ", 0), 0u) << version.out;
}

// What comes on stdout before a failure at the start: the argument lines,
// and the grid report only once the calibration is read. (The refusals
// themselves are walked by the bad-input table.)
TEST_F(PlenoviewCli, RunFailuresAreOneLineWithStatusOne) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // the whole stderr
  };
  testing::writeTextFile(dir + "/bad.xml", testing::CalibrationXml().set("diameter", "2O"));
  const Case cases[] = {
      {{"bad.xml", "frame000.png", "1", "1"},
       "plenoview: calibration file \"bad.xml\": RayCalibData.diameter: \"2O\" is not a number\n"},
      {{"nothere.xml", "frame000.png", "1", "1"},
       "plenoview: calibration file \"nothere.xml\" cannot be opened\n"},
      // Frame 0 is read before the calibration, so a bad pattern wins.
      {{"nothere.xml", "gone.png", "1", "1"},
       "plenoview: frame 0: cannot read \"gone.png\" (missing, empty or not an image)\n"},
  };
  for (const Case& c : cases) {
    const testing::ProcessResult run = plenoview(c.args);
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(run.out, testing::argumentLines(c.args[0], c.args[1], "1", 1));
  }
}

TEST(PlenoviewFrames, GreyColourAndDeepFramesEachGiveEveryView) {
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/calib.xml", testing::smallLensCalibration());
  // Frame 0 grey, frame 1 colour, frame 2 sixteen-bit colour with alpha.
  cv::Mat grey(48, 64, CV_8UC1);
  cv::randu(grey, 0, 256);
  cv::Mat colour(48, 64, CV_8UC3);
  cv::randu(colour, 0, 256);
  cv::Mat deep(48, 64, CV_16UC4);
  cv::randu(deep, 0, 65536);
  ASSERT_TRUE(cv::imwrite(dir + "/frame0.png", grey));
  ASSERT_TRUE(cv::imwrite(dir + "/frame1.png", colour));
  ASSERT_TRUE(cv::imwrite(dir + "/frame2.png", deep));

  const testing::ProcessResult run =
      testing::runPlenoview({"--no-window", "calib.xml", "frame%d.png", "3", "3"}, dir);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  // Only the closing summary of the three frames.
  EXPECT_EQ(run.err.rfind("summary: 3 frames done, 0 skipped, 0 failed in ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_EQ(run.out.rfind(testing::argumentLines("calib.xml", "frame%d.png", "3", 3), 0), 0u)
      << run.out;
  for (int f = 0; f < 3; ++f) {
    EXPECT_NE(run.out.find(testing::frameCounters(f, f + 1)), std::string::npos) << f;
  }
  std::vector<std::string> views = testing::viewFileNames(0, 3, 3);
  std::sort(views.begin(), views.end());
  EXPECT_EQ(testing::namesIn(dir + "/Result"), views);
}

}  // namespace
}  // namespace plenoview
