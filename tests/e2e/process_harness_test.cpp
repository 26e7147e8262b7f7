// The harness every end-to-end test stands on: a run that hangs must end at
// its timeout with everything it started, and say so; the environment and
// working directory must be the ones asked for.
#include "tests/e2e/process_harness.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

namespace plenoview {
namespace {

TEST(ProcessHarness, ATimeoutEndsTheChildAndWhatItStartedAndSaysSo) {
  const std::string dir = testing::makeTestDir();
  testing::ProcessOptions options;
  options.workDir = dir;
  options.timeout = std::chrono::milliseconds(300);
  // The grandchild would write its file after 1 s if it outlived the kill.
  const auto start = std::chrono::steady_clock::now();
  const testing::ProcessResult run =
      testing::runShell("(sleep 1; touch late) & echo started; sleep 30", options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 128 + SIGKILL);
  EXPECT_EQ(run.out, "started\n");
  EXPECT_NE(run.err.find("killed after 300 ms"), std::string::npos) << run.err;
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(std::filesystem::exists(dir + "/late"));
}

TEST(ProcessHarness, RunsInTheFolderWithTheEnvironmentAskedFor) {
  const std::string dir = testing::makeTestDir();
  testing::ProcessOptions options;
  options.workDir = dir;
  options.environment = {"PLENOVIEW_SET=a=b", "HOME"};
  const testing::ProcessResult run =
      testing::runShell("pwd; echo \"$PLENOVIEW_SET ${HOME-unset}\"; exit 3", options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.out, dir + "\na=b unset\n");
  EXPECT_EQ(testing::runProcess({"no-such-program-anywhere"}).exitStatus, 127);
}

}  // namespace
}  // namespace plenoview
