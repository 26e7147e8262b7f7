// Runs the real plenoview binary: argument lines, report, exit statuses and
// the one-line errors that users see.
#include "tests/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <string>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::runCommand;
using testing::shellQuote;

const char* const kCalibration =
    "<RayCalibData>\n"
    "  <diameter>20</diameter>\n"
    "  <rotation>0</rotation>\n"
    "  <offset><x>0</x><y>0</y></offset>\n"
    "  <lens_type id=\"0\"><offset><x>0</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"1\"><offset><x>1</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"2\"><offset><x>2</x><y>0</y></offset></lens_type>\n"
    "</RayCalibData>\n";

// The report of the 200 x 100 frame with D = 20, derived by hand in the
// calibration tests.
const char* const kReport = testing::kWorkedExampleReport;

// The closing line of a run that reached its frames; the times vary.
std::string summaryLine(const std::string& counts) {
  return "summary: " + counts + " in [0-9]+\\.[0-9] s( \\([0-9]+\\.[0-9][0-9] s/frame\\))?\n";
}

class PlenoviewCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    testing::writeTextFile(dir + "/calib.xml", kCalibration);
    cv::imwrite(dir + "/frame000.png", cv::Mat(100, 200, CV_8UC1, cv::Scalar(60)));
  }

  testing::ProcessResult plenoview(const std::string& args) {
    return runCommand(std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") +
                          shellQuote(PLENOVIEW_BINARY) + " " + args,
                      dir);
  }

  std::string dir;
};

TEST_F(PlenoviewCli, NoFramesPrintsArgumentsAndReportAndWritesNothing) {
  const testing::ProcessResult run = plenoview("calib.xml 'frame%03d.png' 0 5");
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, std::string("CalibPath: calib.xml\n"
                                 "ImagePath: frame%03d.png\n"
                                 "ImageNum: 0\n"
                                 "ViewNum: 5\n") +
                         kReport);
  EXPECT_THAT(run.err, ::testing::MatchesRegex(summaryLine("0 frames done, 0 skipped, 0 failed")));
  EXPECT_FALSE(fs::exists(dir + "/Result"));
}

TEST_F(PlenoviewCli, HelpGoesToStdoutAndUsageErrorsToStderr) {
  const testing::ProcessResult help = plenoview("--help");
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.out.rfind("usage: plenoview", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");

  const testing::ProcessResult version = plenoview("--version");
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("plenoview ", 0), 0u) << version.out;

  const testing::ProcessResult bad = plenoview("calib.xml frame000.png 1");
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.rfind("plenoview: expected 4 arguments", 0), 0u) << bad.err;
  EXPECT_NE(bad.err.find("usage: plenoview"), std::string::npos);
}

TEST_F(PlenoviewCli, RunFailuresAreOneLineWithStatusOne) {
  struct Case {
    std::string args;
    std::string error;  // the whole stderr
    bool argumentLinesPrinted;
  };
  testing::writeTextFile(dir + "/bad.xml", "<RayCalibData><diameter>2O</diameter></RayCalibData>");
  testing::writeTextFile(dir + "/notimage.png", "this is not a PNG");
  const Case cases[] = {
      {"calib.xml missing%d.png 1 1",
       "plenoview: frame 0: cannot read \"missing0.png\" (missing, empty or not an image)\n", true},
      {"calib.xml notimage.png 1 1",
       "plenoview: frame 0: cannot read \"notimage.png\" (missing, empty or not an image)\n", true},
      {"bad.xml frame000.png 1 1",
       "plenoview: calibration file \"bad.xml\": RayCalibData.diameter: \"2O\" is not a number\n",
       true},
      {"nothere.xml frame000.png 1 1",
       "plenoview: calibration file \"nothere.xml\" cannot be opened\n", true},
      // Frame 0 is read before the calibration, so a bad pattern wins.
      {"nothere.xml gone.png 1 1",
       "plenoview: frame 0: cannot read \"gone.png\" (missing, empty or not an image)\n", true},
  };
  for (const Case& c : cases) {
    const testing::ProcessResult run = plenoview(c.args);
    EXPECT_EQ(run.exitStatus, 1) << c.args;
    EXPECT_EQ(run.err, c.error) << c.args;
    EXPECT_EQ(run.out.rfind("CalibPath: ", 0) == 0, c.argumentLinesPrinted) << c.args;
    EXPECT_EQ(run.out.find("MicroLens"), std::string::npos) << c.args;
  }
}

TEST_F(PlenoviewCli, AFrameMissingInTheLoopKeepsTheFramesAlreadyWritten) {
  const testing::ProcessResult run = plenoview("--no-window calib.xml 'frame%03d.png' 3 1");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_THAT(run.err,
              ::testing::MatchesRegex(
                  "plenoview: frame 1: cannot read \"frame001\\.png\" \\(missing, empty or "
                  "not an image\\)\n" +
                  summaryLine("1 frame done, 0 skipped, 1 failed")));
  EXPECT_NE(run.out.find("frameCnt:0000\rframeCnt:0001\r"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir + "/Result/Result_f0000_c0000.png"));
  EXPECT_FALSE(fs::exists(dir + "/Result/Result_f0001_c0000.png"));
}

TEST_F(PlenoviewCli, BadPatternIsRefusedBeforeAnyOutput) {
  const testing::ProcessResult run = plenoview("calib.xml 'frame%s.png' 1 1");
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("plenoview: ImagePath \"frame%s.png\": conversion '%s'", 0), 0u)
      << run.err;
}

}  // namespace
}  // namespace plenoview
