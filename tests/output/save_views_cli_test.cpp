// A view that cannot be written ends the run with one line naming the file
// and exit status 1, never 0.
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

class SaveViewsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    testing::writeTextFile(dir + "/calib.xml", kCalibration);
    cv::imwrite(dir + "/frame000.png", cv::Mat(100, 200, CV_8UC1, cv::Scalar(60)));
  }

  testing::ProcessResult plenoview() {
    return testing::runCommand(std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") +
                                   testing::shellQuote(PLENOVIEW_BINARY) +
                                   " --no-window calib.xml frame%03d.png 1 1",
                               dir);
  }

  std::string dir;
};

TEST_F(SaveViewsCli, ResultThatIsAFileEndsTheRunWithStatusOne) {
  testing::writeTextFile(dir + "/Result", "not a folder");
  const testing::ProcessResult run = plenoview();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err.rfind("plenoview: cannot create the output folder \"./Result\"", 0), 0u)
      << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

TEST_F(SaveViewsCli, FullDiskEndsTheRunWithStatusOne) {
  fs::create_directory(dir + "/Result");
  fs::create_symlink("/dev/full", dir + "/Result/Result_f0000_c0000.png");
  const testing::ProcessResult run = plenoview();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err, "plenoview: cannot write the view \"./Result/Result_f0000_c0000.png\"\n");
}

}  // namespace
}  // namespace plenoview
