// Output that cannot be made ends the run with one line naming the cause and
// exit status 1, never 0: views that would crop to nothing are refused before
// the first frame, and a view that cannot be written names its file.
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <string>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

// Diameter 20 over a 200 x 100 grey frame: a grid the set-up accepts.
const char* const kCalibration =
    "<RayCalibData>\n"
    "  <diameter>20</diameter>\n"
    "  <rotation>0</rotation>\n"
    "  <offset><x>0</x><y>0</y></offset>\n"
    "  <lens_type id=\"0\"><offset><x>0</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"1\"><offset><x>1</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"2\"><offset><x>2</x><y>0</y></offset></lens_type>\n"
    "</RayCalibData>\n";

// The closing summary that follows the error once the frame loop has begun:
// the frame that failed, and the time.
const char* const kFailedFrameSummary = "summary: 0 frames done, 0 skipped, 1 failed in ";

class OutputErrorsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    testing::writeTextFile(dir + "/calib.xml", kCalibration);
    cv::imwrite(dir + "/frame000.png", cv::Mat(100, 200, CV_8UC1, cv::Scalar(60)));
  }

  testing::ProcessResult plenoview(const std::string& calibFile = "calib.xml") {
    return testing::runCommand(std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") +
                                   testing::shellQuote(PLENOVIEW_BINARY) + " --no-window " +
                                   calibFile + " frame%03d.png 1 1",
                               dir);
  }

  std::string dir;
};

TEST_F(OutputErrorsCli, ResultThatIsAFileEndsTheRunWithStatusOne) {
  testing::writeTextFile(dir + "/Result", "not a folder");
  const testing::ProcessResult run = plenoview();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err.rfind("plenoview: cannot create the output folder \"./Result\"", 0), 0u)
      << run.err;
  // One error line, then the summary.
  const size_t secondLine = run.err.find('\n') + 1;
  EXPECT_EQ(run.err.substr(secondLine, std::string(kFailedFrameSummary).size()),
            kFailedFrameSummary)
      << run.err;
  EXPECT_EQ(run.err.find('\n', secondLine), run.err.size() - 1) << run.err;
}

TEST_F(OutputErrorsCli, FullDiskEndsTheRunWithStatusOne) {
  fs::create_directory(dir + "/Result");
  fs::create_symlink("/dev/full", dir + "/Result/Result_f0000_c0000.png");
  const testing::ProcessResult run = plenoview();
  EXPECT_EQ(run.exitStatus, 1);
  const std::string error =
      "plenoview: cannot write the view \"./Result/Result_f0000_c0000.png\"\n";
  EXPECT_EQ(run.err.substr(0, error.size()), error);
  EXPECT_EQ(run.err.substr(error.size(), std::string(kFailedFrameSummary).size()),
            kFailedFrameSummary)
      << run.err;
}

TEST_F(OutputErrorsCli, ViewsThatCropToNothingAreRefusedBeforeTheFirstFrame) {
  // Diameter 40 on the 200 x 100 frame: one lens row (30 / (20 sqrt 3)
  // truncates to 0 above and below the centre row) and one lens per type.
  // The types sit at x 100, 60, 20 and y 50, so type 0 is the right type and
  // type 1 the middle one. The views are floor(100 + 40) = 140 wide and
  // floor(50 + 40) = 90 high; (90 - 2 x 50) x 0.125 truncates to -1: no rows.
  std::string calibration = kCalibration;
  calibration.replace(calibration.find("<diameter>20"), 12, "<diameter>40");
  testing::writeTextFile(dir + "/calib40.xml", calibration);
  const testing::ProcessResult run = plenoview("calib40.xml");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err,
            "plenoview: calibration: the views of 140 x 90 pixels leave nothing to crop: the "
            "first lens of the middle lens type (lens_type id 1) lies at (60, 50) with "
            "RayCalibData.diameter 40; check the diameter and the lens_type offsets\n");
  EXPECT_EQ(run.out.find("frameCnt"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(dir + "/Result"));
}

}  // namespace
}  // namespace plenoview
