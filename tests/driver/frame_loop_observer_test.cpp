// The hooks the benchmark times the frame loop with: they must see every step
// of every frame the loop processes, in order, and nothing of the frames it
// skips or only replays.

#include "driver/run_plenoview.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

// Runs the driver in this process with `args` and `observer`, its stdout and
// stderr captured and dropped.
int runQuietly(const std::vector<std::string>& args, const FrameLoopObserver& observer) {
  std::vector<const char*> argv = {"plenoview"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = runPlenoview(static_cast<int>(argv.size()), argv.data(), observer);
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  return status;
}

TEST(FrameLoopObserver, SeesEveryStepOfEachProcessedFrameInOrder) {
  // Two frames, 2 x 2 views.
  const fs::path data = fs::path(PLENOVIEW_SOURCE_DIR) / "tests/data/golden/case02";
  const std::string dir = testing::makeTestDir();
  std::vector<std::string> events;
  int frame = -1;
  FrameLoopObserver observer;
  observer.frameStarted = [&](int k) {
    frame = k;
    events.push_back("frame " + std::to_string(k));
  };
  observer.stepDone = [&](const char* step) {
    events.push_back(step);
    // After the last frame's "saveViews" its last view is on disk. An
    // earlier frame's may or may not be yet: it is written while the next
    // frame begins.
    const std::string last = dir + "/Result/Result_f000" + std::to_string(frame) + "_c0101.png";
    if (events.back() == "saveViews" && frame == 1 && fs::exists(last)) {
      events.back() += " (written)";
    }
  };
  const std::vector<std::string> args = {"--no-window",
                                         "--output-dir",
                                         dir,
                                         (data / "calib.xml").string(),
                                         (data / "frame_%03d.png").string(),
                                         "2",
                                         "2"};
  ASSERT_EQ(runQuietly(args, observer), 0);
  // The centre views are rendered and aligned first, then each of the two
  // groups (a grid row each) is rendered, aligned, blended and cropped; its
  // views are saved while the next group is made, and "saveViews" comes once
  // the last of them is handed over.
  const std::vector<std::string> groupSteps = {"renderMultiViewImage", "alignLensTypes",
                                               "blendLensTypes", "cropAndOrientViews"};
  std::vector<std::string> frameSteps = {"read",
                                         "rotate",
                                         "prepareRawImage",
                                         "estimatePatchSizes",
                                         "buildPatchMap",
                                         "renderMultiViewImage",
                                         "alignLensTypes"};
  frameSteps.insert(frameSteps.end(), groupSteps.begin(), groupSteps.end());
  frameSteps.insert(frameSteps.end(), groupSteps.begin(), groupSteps.end());
  std::vector<std::string> expected;
  for (const std::string frame : {"frame 0", "frame 1"}) {
    expected.push_back(frame);
    expected.insert(expected.end(), frameSteps.begin(), frameSteps.end());
    // Frame 0's last group is still being written while frame 1 begins; the
    // last frame's views are all on disk.
    expected.push_back(frame == "frame 1" ? "saveViews (written)" : "saveViews");
  }
  EXPECT_EQ(events, expected);

  // Rerun with --resume after frame 1 lost a view: frame 0 is skipped, and
  // the warm-up replay of frame 0 before frame 1 is not a frame of its own.
  fs::remove(dir + "/Result/Result_f0001_c0101.png");
  events.clear();
  std::vector<std::string> resumeArgs = args;
  resumeArgs.insert(resumeArgs.begin(), "--resume");
  ASSERT_EQ(runQuietly(resumeArgs, observer), 0);
  expected.assign(expected.begin() + 2 + frameSteps.size(), expected.end());
  EXPECT_EQ(events, expected);
}

}  // namespace
}  // namespace plenoview
