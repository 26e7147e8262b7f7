// Runs the real plenoview binary: argument lines, report, exit statuses, the
// one-line errors that users see, frames of every depth, and the measurement
// options that must not change a byte.
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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
    testing::writeTextFile(dir + "/calib.xml", testing::kWorkedExampleCalibration);
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
  EXPECT_EQ(run.out, std::string("CalibPath: calib.xml\n"
                                 "ImagePath: frame%03d.png\n"
                                 "ImageNum: 0\n"
                                 "ViewNum: 5\n") +
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

TEST_F(PlenoviewCli, RunFailuresAreOneLineWithStatusOne) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // the whole stderr
  };
  testing::writeTextFile(dir + "/bad.xml", "<RayCalibData><diameter>2O</diameter></RayCalibData>");
  testing::writeTextFile(dir + "/notimage.png", "this is not a PNG");
  const Case cases[] = {
      {{"calib.xml", "missing%d.png", "1", "1"},
       "plenoview: frame 0: cannot read \"missing0.png\" (missing, empty or not an image)\n"},
      {{"calib.xml", "notimage.png", "1", "1"},
       "plenoview: frame 0: cannot read \"notimage.png\" (missing, empty or not an image)\n"},
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
    EXPECT_EQ(run.exitStatus, 1) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(run.out.rfind("CalibPath: ", 0), 0u) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(run.out.find("MicroLens"), std::string::npos) << c.args[0] << " " << c.args[1];
  }
}

TEST_F(PlenoviewCli, AFrameMissingInTheLoopKeepsTheFramesAlreadyWritten) {
  const testing::ProcessResult run =
      plenoview({"--no-window", "calib.xml", "frame%03d.png", "3", "1"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_THAT(run.err,
              ::testing::MatchesRegex(
                  "plenoview: frame 1: cannot read \"frame001\\.png\" \\(missing, empty or "
                  "not an image\\)\n" +
                  summaryPattern("1 frame done, 0 skipped, 1 failed")));
  EXPECT_NE(run.out.find("frameCnt:0000\rframeCnt:0001\r"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir + "/Result/Result_f0000_c0000.png"));
  EXPECT_FALSE(fs::exists(dir + "/Result/Result_f0001_c0000.png"));
}

TEST(PlenoviewFrames, GreyColourAndDeepFramesEachGiveEveryView) {
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/calib.xml", testing::kSmallLensCalibration);
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
  EXPECT_EQ(
      run.out.rfind("CalibPath: calib.xml\nImagePath: frame%d.png\nImageNum: 3\nViewNum: 3\n", 0),
      0u)
      << run.out;
  for (const char* counter : {"frameCnt:0000\r", "frameCnt:0001\r", "frameCnt:0002\r"}) {
    EXPECT_NE(run.out.find(counter), std::string::npos) << counter;
  }
  for (int f = 0; f < 3; ++f) {
    for (int x = 0; x < 3; ++x) {
      for (int y = 0; y < 3; ++y) {
        const std::string name = testing::viewFileName(f, x, y);
        EXPECT_TRUE(fs::exists(dir + "/Result/" + name)) << name;
      }
    }
  }
}

// --all-scale-levels (every scale level built whole) and --threads N serve
// measurements only. Two colour frames of a fractional-diameter grid, slightly
// rotated: run with the levels built whole on one thread, and on demand with
// one and with two threads. --png-level 3 compresses harder: other bytes,
// the same pixels.
TEST(MeasurementOptions, LeaveEveryOutputByteAsItIs) {
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/calib.xml",
                         "<RayCalibData><diameter>10.7</diameter><rotation>-0.004</rotation>"
                         "<offset><x>4.5</x><y>-3.5</y></offset>"
                         "<lens_type id=\"0\"><offset><x>0</x><y>0</y></offset></lens_type>"
                         "<lens_type id=\"1\"><offset><x>1</x><y>0</y></offset></lens_type>"
                         "<lens_type id=\"2\"><offset><x>2</x><y>0</y></offset></lens_type>"
                         "</RayCalibData>");
  cv::RNG rng(11);
  for (int f = 0; f < 2; ++f) {
    cv::Mat frame(58, 75, CV_8UC3);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(frame, frame, cv::Size(3, 3), 0.7);
    ASSERT_TRUE(cv::imwrite(dir + "/frame" + std::to_string(f) + ".png", frame));
  }

  const struct {
    const char* name;
    std::vector<std::string> options;
  } runs[] = {{"whole", {"--all-scale-levels", "--threads", "1"}},
              {"one", {"--threads", "1"}},
              {"two", {"--threads", "2"}},
              {"level3", {"--png-level", "3"}}};
  std::string referenceOut;
  for (const auto& r : runs) {
    const std::string runDir = dir + "/" + r.name;
    fs::create_directories(runDir);
    std::vector<std::string> args = {"--no-window"};
    args.insert(args.end(), r.options.begin(), r.options.end());
    args.insert(args.end(), {"../calib.xml", "../frame%d.png", "2", "5"});
    const testing::ProcessResult run = testing::runPlenoview(args, runDir);
    ASSERT_EQ(run.exitStatus, 0) << r.name << ": " << run.err;
    EXPECT_EQ(run.err.find("plenoview: "), std::string::npos) << r.name << ": " << run.err;
    if (referenceOut.empty()) {
      referenceOut = run.out;
    } else {
      EXPECT_EQ(run.out, referenceOut) << r.name;
    }
  }
  const auto whole = testing::filesIn(dir + "/whole/Result");
  EXPECT_EQ(whole.size(), 2u * 5 * 5);
  for (const char* other : {"one", "two"}) {
    EXPECT_EQ(testing::differingFiles(testing::filesIn(dir + "/" + other + "/Result"), whole),
              std::vector<std::string>{})
        << other;
  }
  const auto level3 = testing::filesIn(dir + "/level3/Result");
  EXPECT_EQ(testing::differingFiles(level3, whole).size(), whole.size());
  for (const auto& [name, bytes] : whole) {
    const std::string path = dir + "/level3/Result/" + name;
    EXPECT_TRUE(testing::sameImage(cv::imread(path, cv::IMREAD_UNCHANGED),
                                   cv::imread(dir + "/whole/Result/" + name, cv::IMREAD_UNCHANGED)))
        << name;
  }
}

}  // namespace
}  // namespace plenoview
