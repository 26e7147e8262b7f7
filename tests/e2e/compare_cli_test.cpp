// plenoview-compare on real runs of plenoview: the view folders of one run
// written as PNG, yuv and y4m give the same figures.
#include "tests/e2e/process_harness.h"
#include "tests/io/video_bytes.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace plenoview {
namespace {

testing::ProcessResult runCompare(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> argv = {PLENOVIEW_COMPARE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing::runProcess(argv, {dir, {}});
}

TEST(CompareCli, PngAndVideoFoldersOfTheSameRunsGiveTheSameTable) {
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/calib.xml", testing::CalibrationXml().text());
  // Two sequences of two colour frames; the second is the first with noise,
  // as a decoded sequence would be.
  for (int k = 0; k < 2; ++k) {
    const cv::Mat frame = testing::videoPicture(testing::videoPlanes({200, 100}, k, false), false);
    cv::Mat noise(frame.size(), frame.type());
    cv::RNG(static_cast<uint64_t>(k + 7)).fill(noise, cv::RNG::UNIFORM, 0, 6);
    cv::imwrite(dir + "/ref" + std::to_string(k) + ".png", frame);
    cv::imwrite(dir + "/test" + std::to_string(k) + ".png", frame + noise);
  }
  for (const char* side : {"ref", "test"}) {
    for (const char* format : {"png", "yuv", "y4m"}) {
      const testing::ProcessResult run = testing::runPlenoview(
          {"--no-window", "--output-format", format, "--output-dir",
           std::string(side) + "-" + format, "calib.xml", std::string(side) + "%d.png", "2", "3"},
          dir);
      ASSERT_EQ(run.exitStatus, 0) << run.err;
    }
  }
  const testing::ProcessResult byPng = runCompare({"ref-png", "test-png"}, dir);
  ASSERT_EQ(byPng.exitStatus, 0) << byPng.err;
  EXPECT_EQ(byPng.err, "");
  // A header, 3 x 3 views and the mean, every figure finite.
  EXPECT_EQ(byPng.out.rfind("view     Y-PSNR    U-PSNR    V-PSNR  YUV-PSNR\nc0000  ", 0), 0u)
      << byPng.out;
  EXPECT_EQ(std::count(byPng.out.begin(), byPng.out.end(), '\n'), 11);
  EXPECT_EQ(byPng.out.find("inf"), std::string::npos) << byPng.out;
  for (const std::vector<std::string>& pair : std::vector<std::vector<std::string>>{
           {"ref-yuv", "test-yuv"}, {"ref-png/Result", "test-y4m"}, {"ref-y4m", "test-png"}}) {
    const testing::ProcessResult run = runCompare(pair, dir);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, byPng.out) << pair[0] << " " << pair[1];
  }
  // One run against itself in another format: equal in every plane.
  const testing::ProcessResult same = runCompare({"ref-png", "ref-yuv"}, dir);
  EXPECT_EQ(same.out.substr(same.out.rfind("mean")),
            "mean        inf       inf       inf       inf\n");
}

}  // namespace
}  // namespace plenoview
