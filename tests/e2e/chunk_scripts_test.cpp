// scripts/run-parallel and scripts/slurm-array.sh: how they split a sequence
// into chunks, and chunked runs (GNU parallel here, GNU parallel over ssh, a
// Slurm job array) against one long run.
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace plenoview {
namespace {

// A script of scripts/, or with `folder` one of another folder, such as the
// helpers of tests/e2e (a private sshd, a one-machine Slurm).
std::string script(const std::string& name, const std::string& folder = "scripts") {
  return std::string(PLENOVIEW_SOURCE_DIR) + "/" + folder + "/" + name;
}

testing::ProcessResult run(std::vector<std::string> argv, const std::string& dir,
                           const std::vector<std::string>& environment = {}) {
  testing::ProcessOptions options;
  options.workDir = dir;
  options.environment = environment;
  return testing::runProcess(argv, options);
}

// Frames first .. imageNum-1 in `chunks` chunks: chunk i starts at
// first + i * frames / chunks (integer division) and ends where i + 1 starts.
// 10 frames in 4 chunks: 0, 10/4 = 2, 20/4 = 5, 30/4 = 7, end 10.
// Frames 3 .. 9 (7 frames) in 3 chunks: 3, 3 + 7/3 = 5, 3 + 14/3 = 7, end 10.
TEST(ChunkScripts, SplitTheRangeIntoContiguousChunksInOrder) {
  const std::string dir = testing::makeTestDir();
  const std::string parallel = script("run-parallel");
  const std::string chunks[] = {
      "--no-window --resume --first-frame 0 c.xml f%03d.png 2 3\n",
      "--no-window --resume --first-frame 2 c.xml f%03d.png 5 3\n",
      "--no-window --resume --first-frame 5 c.xml f%03d.png 7 3\n",
      "--no-window --resume --first-frame 7 c.xml f%03d.png 10 3\n",
  };
  const testing::ProcessResult four =
      run({parallel, "-c", "4", "-p", "echo", "c.xml", "f%03d.png", "10", "3"}, dir);
  EXPECT_EQ(four.exitStatus, 0) << four.err;
  EXPECT_EQ(four.out, chunks[0] + chunks[1] + chunks[2] + chunks[3]);
  EXPECT_EQ(four.err, "run-parallel: frames 0 .. 9 done in 4 chunk(s)\n");

  // The range's own start and the other plenoview options pass through;
  // arguments with blanks stay whole.
  const testing::ProcessResult three =
      run({parallel, "-c", "3", "-p", "echo", "my calib.xml", "f%03d.png", "10", "3",
           "--first-frame=3", "--output-dir", "out"},
          dir);
  EXPECT_EQ(three.out,
            "--no-window --resume --first-frame 3 --output-dir out my calib.xml f%03d.png 5 3\n"
            "--no-window --resume --first-frame 5 --output-dir out my calib.xml f%03d.png 7 3\n"
            "--no-window --resume --first-frame 7 --output-dir out my calib.xml f%03d.png 10 3\n");

  // More chunks than frames: one frame each.
  const testing::ProcessResult many =
      run({parallel, "-c", "10", "-p", "echo", "c.xml", "f.png", "2", "1"}, dir);
  EXPECT_EQ(many.out,
            "--no-window --resume --first-frame 0 c.xml f.png 1 1\n"
            "--no-window --resume --first-frame 1 c.xml f.png 2 1\n");

  // The Slurm array task i runs chunk i - (first task id) of (task count).
  for (int task = 1; task <= 4; ++task) {
    const testing::ProcessResult array =
        run({script("slurm-array.sh"), "c.xml", "f%03d.png", "10", "3"}, dir,
            {"SLURM_ARRAY_TASK_ID=" + std::to_string(task), "SLURM_ARRAY_TASK_MIN=1",
             "SLURM_ARRAY_TASK_COUNT=4", "PLENOVIEW=echo"});
    EXPECT_EQ(array.exitStatus, 0) << array.err;
    EXPECT_EQ(array.out, chunks[task - 1]) << "task " << task;
  }
  const testing::ProcessResult outside =
      run({script("slurm-array.sh"), "c.xml", "f.png", "10", "3"}, dir,
          {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_COUNT"});
  EXPECT_NE(outside.exitStatus, 0);
  EXPECT_NE(outside.err.find("not a task of a Slurm job array"), std::string::npos) << outside.err;
}

// 8 frames of the generated sequence in single/ and in chunked/; each test
// renders them in chunks in chunked/, and every file must be that of one
// long run in single/.
class ChunkedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    single = dir + "/single";
    chunked = dir + "/chunked";
    for (const std::string& d : {single, chunked}) {
      std::filesystem::create_directories(d);
      testing::writeSequence(d, 0, 8);
    }
  }

  void expectTheBytesOfOneLongRun() {
    const testing::ProcessResult one =
        testing::runPlenoview({"--no-window", "calib.xml", "f%03d.png", "8", "3"}, single);
    ASSERT_EQ(one.exitStatus, 0) << one.err;
    const std::map<std::string, std::string> expected = testing::filesIn(single + "/Result");
    ASSERT_EQ(expected.size(), 72u);
    EXPECT_EQ(testing::differingFiles(testing::filesIn(chunked + "/Result"), expected),
              std::vector<std::string>{});
  }

  // Runs `stop` (a helper's "stop DIR") when the test ends, however it ends,
  // and then removes `remove` if given.
  struct StopOnExit {
    std::vector<std::string> stop;
    std::string dir;
    std::string remove;
    ~StopOnExit() {
      run(stop, dir);
      // The daemons are told to stop, not waited for: one may still be
      // saving its state into the folder for a moment.
      testing::waitUntil(std::chrono::seconds(10), [&] {
        std::error_code error;
        std::filesystem::remove_all(remove, error);
        return !error;
      });
    }
  };

  std::string dir, single, chunked;
};

TEST_F(ChunkedRun, FourChunksOfRunParallelWriteTheBytesOfOneLongRun) {
  const testing::ProcessResult parallel =
      run({script("run-parallel"), "-c", "4", "-j", "2", "-p", PLENOVIEW_BINARY, "calib.xml",
           "f%03d.png", "8", "3"},
          chunked);
  EXPECT_EQ(parallel.exitStatus, 0) << parallel.err;
  EXPECT_NE(parallel.err.find("run-parallel: frames 0 .. 7 done in 4 chunk(s)\n"),
            std::string::npos)
      << parallel.err;
  expectTheBytesOfOneLongRun();

  // Running the same command again finds every frame done.
  const testing::ProcessResult again = run({script("run-parallel"), "-c", "4", "-p",
                                            PLENOVIEW_BINARY, "calib.xml", "f%03d.png", "8", "3"},
                                           chunked);
  EXPECT_EQ(again.exitStatus, 0);
  EXPECT_EQ(again.out.find("frameCnt"), std::string::npos) << again.out;
}

// The --sshlogin form, for real: two chunks at a time on "another machine"
// that is this one reached through a private ssh server on 127.0.0.1. The
// test folder lies outside the home folder, so GNU parallel's --workdir .
// gives the same absolute path there.
TEST_F(ChunkedRun, ChunksOverSshWriteTheBytesOfOneLongRun) {
  if (geteuid() != 0 ||
      std::system("test -x /usr/sbin/sshd && command -v ssh ssh-keygen >/dev/null") != 0) {
    GTEST_SKIP() << "needs root and an ssh server (Debian's openssh-server)";
  }
  const std::string state = dir + "/sshd";
  const testing::ProcessResult started =
      run({script("localhost-sshd", "tests/e2e"), "start", state}, dir);
  const StopOnExit stop{{script("localhost-sshd", "tests/e2e"), "stop", state}, dir, ""};
  ASSERT_EQ(started.exitStatus, 0) << started.err;
  const std::string ssh = started.out.substr(0, started.out.find('\n'));

  const testing::ProcessResult remote =
      run({script("run-parallel"), "-c", "4", "-S", "2/" + ssh + " 127.0.0.1", "-p",
           PLENOVIEW_BINARY, "calib.xml", "f%03d.png", "8", "3"},
          chunked);
  EXPECT_EQ(remote.exitStatus, 0) << remote.err;
  expectTheBytesOfOneLongRun();
  // The chunks did log in: four sessions besides the start-up check.
  const std::string log = testing::readFile(state + "/sshd.log");
  int logins = 0;
  for (size_t at = log.find("Accepted publickey"); at != std::string::npos;
       at = log.find("Accepted publickey", at + 1)) {
    ++logins;
  }
  EXPECT_GE(logins, 5) << log;
}

// A real job array on a one-machine Slurm cluster started for the test.
TEST_F(ChunkedRun, FourTasksOfASlurmArrayWriteTheBytesOfOneLongRun) {
  if (std::system("command -v slurmctld slurmd sbatch munged >/dev/null") != 0) {
    GTEST_SKIP() << "Slurm is not installed (scripts/install-deps --cluster installs slurm-wlm "
                    "and munge)";
  }
  if (geteuid() != 0) GTEST_SKIP() << "starting a Slurm cluster needs root";
  // Slurm's sockets live in its spool folder, and a socket path may not be
  // longer than 107 bytes: the test's folder is too deep for it.
  char shortPath[] = "/tmp/plenoview-slurm-XXXXXX";
  ASSERT_NE(mkdtemp(shortPath), nullptr);
  const std::string state = shortPath;
  const testing::ProcessResult started =
      run({script("single-node-slurm", "tests/e2e"), "start", state}, dir);
  const StopOnExit stop{{script("single-node-slurm", "tests/e2e"), "stop", state}, dir, state};
  ASSERT_EQ(started.exitStatus, 0) << started.err;
  const std::string conf = started.out.substr(0, started.out.find('\n'));

  // sbatch --wait polls every few seconds; asking for the tasks' states is
  // quicker. The job is done when no task is pending or running; its exit
  // codes are listed then.
  testing::ProcessOptions options;
  options.workDir = chunked;
  options.environment = {"SLURM_CONF=" + conf, std::string("PLENOVIEW=") + PLENOVIEW_BINARY};
  const testing::ProcessResult job = testing::runShell(
      "id=$(sbatch --parsable --array=0-3 " + testing::shellQuote(script("slurm-array.sh")) +
          " calib.xml 'f%03d.png' 8 3) || exit 1"
          R"(; for i in $(seq 300); do)"
          R"(   scontrol --oneliner show job "$id" | grep -Eq 'JobState=(PENDING|RUNNING|CONFIGURING|COMPLETING) ' || break;)"
          R"(   sleep 0.1;)"
          R"( done)"
          R"(; scontrol --oneliner show job "$id" | sed -E 's/.* JobState=([A-Z_]+) .* ExitCode=([0-9:]+) .*/\1 \2/')",
      options);
  EXPECT_EQ(job.exitStatus, 0) << job.err;
  EXPECT_EQ(job.out, "COMPLETED 0:0\nCOMPLETED 0:0\nCOMPLETED 0:0\nCOMPLETED 0:0\n") << job.err;
  expectTheBytesOfOneLongRun();
  // One log per task (plenoview-<job>_<task>.log), each with the summary of
  // its chunk of 8 / 4 = 2 frames.
  int logs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(chunked)) {
    if (entry.path().extension() != ".log") continue;
    ++logs;
    const std::string text = testing::readFile(entry.path());
    EXPECT_NE(text.find("summary: 2 frames done, 0 skipped, 0 failed in "), std::string::npos)
        << entry.path() << ":\n"
        << text;
  }
  EXPECT_EQ(logs, 4);
}

}  // namespace
}  // namespace plenoview
