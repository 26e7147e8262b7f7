// Long sequences with the real binary: frame ranges, --resume after a kill or
// Ctrl-C, the output folder, and what stdout and stderr say about them.
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::filesIn;
using testing::frameCounters;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using testing::runPlenoview;
using testing::startPlenoview;
using testing::summaryPattern;

// The four argument lines and the grid report of the generated sequence
// (D = 20 on 200 x 100 frames, derived by hand in the calibration tests).
std::string header(const std::string& imageNum) {
  return testing::argumentLines("calib.xml", "f%03d.png", imageNum, 3) +
         testing::kWorkedExampleReport;
}

// Waits until `folder` holds at least `count` view files under final names;
// false when the process ended first or 20 s passed.
bool waitForViews(testing::BackgroundProcess& process, const std::string& folder, int count) {
  const auto views = [&] {
    const std::vector<std::string> names = testing::namesIn(folder);
    return std::count_if(names.begin(), names.end(),
                         [](const std::string& name) { return name.rfind("Result_", 0) == 0; });
  };
  testing::waitUntil(std::chrono::seconds(20),
                     [&] { return views() >= count || process.finished(); });
  return views() >= count;
}

class LongSequence : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing::makeTestDir(); }

  // Result/ of one uninterrupted run over frames 0 .. frames-1, made in its
  // own folder.
  std::map<std::string, std::string> referenceRun(int frames) {
    const std::string reference = dir + "/reference";
    fs::create_directories(reference);
    testing::writeSequence(reference, 0, frames);
    const testing::ProcessResult run = sequence({}, std::to_string(frames), reference);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return filesIn(reference + "/Result");
  }

  // plenoview --no-window `options` calib.xml f%03d.png `imageNum` 3 in `work`.
  testing::ProcessResult sequence(std::vector<std::string> options, const std::string& imageNum,
                                  const std::string& work) {
    options.insert(options.begin(), "--no-window");
    options.insert(options.end(), {"calib.xml", "f%03d.png", imageNum, "3"});
    return runPlenoview(options, work);
  }

  std::string dir;
};

// The views of frames 0 .. end-1 of `run`.
std::map<std::string, std::string> framesBefore(const std::map<std::string, std::string>& run,
                                                int end) {
  std::map<std::string, std::string> views;
  for (const std::string& view : testing::viewFileNames(0, end, 3)) views[view] = run.at(view);
  return views;
}

TEST_F(LongSequence, KilledRunLeavesOnlyWholeFilesAndResumeFinishesIt) {
  const int frames = 24;
  const std::map<std::string, std::string> reference = referenceRun(frames);
  ASSERT_EQ(reference.size(), 9u * frames);

  const std::string work = dir + "/work";
  fs::create_directories(work);
  testing::writeSequence(work, 0, frames - 1);
  // The last frame is a named pipe that nobody writes: the run blocks there
  // if it gets that far, so the kill always lands before the end.
  ASSERT_EQ(mkfifo((work + "/f023.png").c_str(), 0644), 0);
  {
    testing::BackgroundProcess run;
    startPlenoview(run, work, {"--no-window", "calib.xml", "f%03d.png", "24", "3"});
    ASSERT_TRUE(waitForViews(run, work + "/Result", 22)) << run.err();
    EXPECT_EQ(run.stop(), 128 + SIGKILL);
  }
  // Every file under a final name is the whole file of the uninterrupted run.
  const std::map<std::string, std::string> killed = filesIn(work + "/Result");
  int finals = 0;
  for (const auto& [name, bytes] : killed) {
    if (name[0] == '.') continue;  // a temporary file the kill cut short
    ++finals;
    ASSERT_EQ(reference.count(name), 1u) << name;
    EXPECT_TRUE(bytes == reference.at(name)) << name << " differs from the uninterrupted run";
  }
  EXPECT_GE(finals, 22);
  EXPECT_LT(finals, 9 * frames);

  fs::remove(work + "/f023.png");
  cv::imwrite(work + "/f023.png", testing::sequenceFrame(23));
  const testing::ProcessResult resumed = sequence({"--resume"}, "24", work);
  EXPECT_EQ(resumed.exitStatus, 0) << resumed.err;
  EXPECT_THAT(resumed.err, ::testing::HasSubstr("resume: skipping "));
  EXPECT_THAT(testing::differingFiles(filesIn(work + "/Result"), reference), IsEmpty());
}

TEST_F(LongSequence, SigintAndSigtermStopAfterTheFileInHand) {
  // The signal comes once `views` files are in place: within the first
  // frame, at the end of it (9 views a frame), within a later one. The views
  // are written while the next group is rendered and the next frame is read
  // ahead; what is left must still be whole frames and a prefix of one.
  struct Case {
    int signal;
    const char* name;
    int views;
  };
  for (const Case c : {Case{SIGINT, "SIGINT", 1}, Case{SIGINT, "SIGINT", 9},
                       Case{SIGINT, "SIGINT", 14}, Case{SIGTERM, "SIGTERM", 14}}) {
    SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(c.views) + " views");
    const std::string work = dir + "/" + c.name + std::to_string(c.views);
    fs::create_directories(work);
    testing::writeTextFile(work + "/calib.xml", testing::CalibrationXml());
    cv::imwrite(work + "/frame.png", testing::sequenceFrame(0));
    // A pattern without a conversion reads the same file for every frame:
    // a run far longer than the test waits for.
    testing::BackgroundProcess run;
    startPlenoview(run, work, {"--no-window", "calib.xml", "frame.png", "100000", "3"});
    ASSERT_TRUE(waitForViews(run, work + "/Result", c.views)) << run.err();
    run.signal(c.signal);
    EXPECT_TRUE(run.waitForExit(std::chrono::seconds(30))) << c.name;
    EXPECT_EQ(run.exitStatus(), 128 + c.signal) << c.name;

    std::smatch match;
    const std::string err = run.err();
    ASSERT_TRUE(std::regex_match(
        err, match,
        std::regex(std::string("plenoview: interrupted by ") + c.name +
                   " at frame ([0-9]+); rerun with --resume to finish\n"
                   "summary: ([0-9]+) frames? done, 0 skipped, 0 failed in [0-9.]+ s.*\n")))
        << err;
    const int stopped = std::stoi(match[1]);
    EXPECT_EQ(std::stoi(match[2]), stopped) << "frames before the one interrupted are done";

    // Frames before `stopped` are complete; of frame `stopped`, the first views
    // in writing order, not all of them; nothing else, and no temporary file.
    std::map<std::string, std::string> files = filesIn(work + "/Result");
    for (const std::string& name : testing::viewFileNames(0, stopped, 3)) {
      EXPECT_EQ(files.erase(name), 1u) << name;
    }
    const std::vector<std::string> last = testing::viewFileNames(stopped, stopped + 1, 3);
    size_t written = 0;
    while (written < last.size() && files.erase(last[written]) == 1) ++written;
    EXPECT_LT(written, last.size());
    EXPECT_TRUE(files.empty()) << "unexpected: " << files.begin()->first;
    // The last counter line is that of the frame stopped in, or, when the
    // signal came between two frames, that of the frame before.
    const std::string out = run.out();
    const std::string at = frameCounters(stopped, stopped + 1);
    const std::string before = stopped > 0 ? frameCounters(stopped - 1, stopped) : "";
    const std::string end = out.substr(out.size() - at.size());
    if (written > 0) {
      EXPECT_EQ(end, at);
    } else {
      EXPECT_TRUE(end == at || end == before) << end;
    }
  }
}

TEST_F(LongSequence, AChunkReadsItsOwnFramesAndNamesThemByTheirIndex) {
  // Frames 0 .. 2 are not on this machine.
  testing::writeSequence(dir, 3, 6);
  const testing::ProcessResult run = sequence({"--first-frame", "3"}, "6", dir);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, header("6") + frameCounters(3, 6));
  // The warm-up wants frame 2, which is missing: one line, and the run goes on.
  EXPECT_THAT(
      run.err,
      MatchesRegex("warm-up: frame 2: cannot read \"f002\\.png\" \\(missing, empty or not an "
                   "image\\); frame 3 goes on without the replay\n" +
                   summaryPattern("3 frames done, 0 skipped, 0 failed")));
  std::vector<std::string> expected = testing::viewFileNames(3, 6, 3);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testing::namesIn(dir + "/Result"), expected);

  const testing::ProcessResult quiet = sequence({"--no-warm-up", "--first-frame", "5"}, "6", dir);
  EXPECT_EQ(quiet.out, header("6") + frameCounters(5, 6));
  EXPECT_THAT(quiet.err, MatchesRegex(summaryPattern("1 frame done, 0 skipped, 0 failed")));

  // A range that is empty still reads its first frame for the size.
  const testing::ProcessResult empty = sequence({"--first-frame", "7"}, "6", dir);
  EXPECT_EQ(empty.exitStatus, 1);
  EXPECT_EQ(empty.err,
            "plenoview: frame 7: cannot read \"f007.png\" (missing, empty or not an image)\n");
}

TEST_F(LongSequence, ResumeSkipsCompleteFramesSilentlyOnStdout) {
  const std::map<std::string, std::string> reference = referenceRun(6);
  testing::writeSequence(dir, 0, 6);
  // Frames 0 .. 2 done by an earlier run, frame 4 as well.
  EXPECT_EQ(sequence({}, "3", dir).exitStatus, 0);
  EXPECT_EQ(sequence({"--first-frame", "4"}, "5", dir).exitStatus, 0);

  const testing::ProcessResult resumed = sequence({"--resume"}, "6", dir);
  EXPECT_EQ(resumed.exitStatus, 0) << resumed.err;
  EXPECT_EQ(resumed.out, header("6") + frameCounters(3, 4) + frameCounters(5, 6));
  EXPECT_THAT(resumed.err,
              MatchesRegex("resume: skipping 4 frame\\(s\\) whose views all exist: 0-2, 4\n" +
                           summaryPattern("2 frames done, 4 skipped, 0 failed")));
  EXPECT_THAT(testing::differingFiles(filesIn(dir + "/Result"), reference), IsEmpty());

  // Before each frame after a gap the frame before it is replayed: with
  // frames 2 and 4 gone, both replays say so, in order.
  fs::remove(dir + "/Result/Result_f0003_c0101.png");
  fs::remove(dir + "/Result/Result_f0005_c0000.png");
  fs::remove(dir + "/f002.png");
  fs::remove(dir + "/f004.png");
  const testing::ProcessResult gaps = sequence({"--resume"}, "6", dir);
  EXPECT_EQ(gaps.exitStatus, 0) << gaps.err;
  EXPECT_THAT(
      gaps.err,
      MatchesRegex(
          "resume: skipping 4 frame\\(s\\) whose views all exist: 0-2, 4\n"
          "warm-up: frame 2: cannot read \"f002\\.png\" \\(missing, empty or not an image\\); "
          "frame 3 goes on without the replay\n"
          "warm-up: frame 4: cannot read \"f004\\.png\" \\(missing, empty or not an image\\); "
          "frame 5 goes on without the replay\n" +
          summaryPattern("2 frames done, 4 skipped, 0 failed")));
  EXPECT_THAT(testing::differingFiles(filesIn(dir + "/Result"), reference), IsEmpty());

  const testing::ProcessResult again = sequence({"--resume"}, "6", dir);
  EXPECT_EQ(again.exitStatus, 0);
  EXPECT_EQ(again.out, header("6"));
  EXPECT_THAT(again.err,
              MatchesRegex("resume: skipping 6 frame\\(s\\) whose views all exist: 0-5\n" +
                           summaryPattern("0 frames done, 6 skipped, 0 failed")));
}

TEST_F(LongSequence, AFrameThatCannotBeReadFailsAsItselfAfterTheFramesBeforeIt) {
  // The next frame is read while the current one is rendered. A frame that
  // cannot be read (missing, or not an image) must still end the run as the
  // sequential loop would: the frames before it complete and byte for byte
  // those of a run that stops before it, stdout ending with its counter, its
  // error the one line on stderr. Cases: right after the first frame, in the
  // middle, the last.
  const std::map<std::string, std::string> reference = referenceRun(6);
  struct Case {
    int bad;
    bool missing;
  };
  for (const Case c : {Case{1, true}, Case{3, false}, Case{5, true}}) {
    const std::string work = dir + "/bad" + std::to_string(c.bad);
    fs::create_directories(work);
    testing::writeSequence(work, 0, 6);
    const std::string name = cv::format("f%03d.png", c.bad);
    if (c.missing) {
      fs::remove(work + "/" + name);
    } else {
      testing::writeTextFile(work + "/" + name, "not an image");
    }
    const testing::ProcessResult run = sequence({}, "6", work);
    SCOPED_TRACE(name);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, header("6") + frameCounters(0, c.bad + 1));
    EXPECT_THAT(
        run.err,
        MatchesRegex("plenoview: frame " + std::to_string(c.bad) + ": cannot read \"f" +
                     cv::format("%03d", c.bad) + "\\.png\".*\n" +
                     summaryPattern(std::to_string(c.bad) + " frames? done, 0 skipped, 1 failed")));
    EXPECT_THAT(testing::differingFiles(filesIn(work + "/Result"), framesBefore(reference, c.bad)),
                IsEmpty());
  }
}

TEST_F(LongSequence, AViewThatCannotBeWrittenTakesItsWholeFrameAway) {
  // Frame 2's view (1, 2) is in the frame's last group, written while the
  // run has moved on; its failure removes the frame's earlier groups too,
  // and frames 0 and 1 stay as an uninterrupted run writes them.
  const std::map<std::string, std::string> reference = referenceRun(4);
  testing::writeSequence(dir, 0, 4);
  fs::create_directories(dir + "/Result");
  fs::create_symlink("/dev/full", dir + "/Result/" + testing::viewFileName(2, 1, 2));
  const testing::ProcessResult run = sequence({}, "4", dir);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, header("4") + frameCounters(0, 3));
  EXPECT_THAT(run.err, MatchesRegex("plenoview: cannot write the view "
                                    "\"\\./Result/Result_f0002_c0102\\.png\"\n" +
                                    summaryPattern("2 frames done, 0 skipped, 1 failed")));
  // The link goes before the files are read: /dev/full reads without end.
  ASSERT_TRUE(fs::remove(dir + "/Result/" + testing::viewFileName(2, 1, 2)));
  EXPECT_THAT(testing::differingFiles(filesIn(dir + "/Result"), framesBefore(reference, 2)),
              IsEmpty());
}

// A grid (D = 9 on 64 x 48 frames) whose outer lenses fall outside the
// views: every frame prints window-test lines. A chunk prints those of its own
// frames only, not those of the frame it replays before it.
TEST_F(LongSequence, AChunkPrintsWhatTheLongRunPrintsForItsFrames) {
  testing::writeTextFile(dir + "/calib9.xml", testing::smallLensCalibration());
  for (int k = 0; k < 2; ++k) {
    cv::Mat frame(48, 64, CV_8UC1);
    cv::RNG(k + 21).fill(frame, cv::RNG::UNIFORM, 0, 256);
    cv::imwrite(dir + "/g" + std::to_string(k) + ".png", frame);
  }
  const testing::ProcessResult longRun =
      runPlenoview({"--no-window", "calib9.xml", "g%d.png", "2", "3"}, dir);
  const testing::ProcessResult chunk =
      runPlenoview({"--no-window", "--first-frame", "1", "calib9.xml", "g%d.png", "2", "3"}, dir);
  ASSERT_EQ(longRun.exitStatus, 0) << longRun.err;
  ASSERT_EQ(chunk.exitStatus, 0) << chunk.err;
  const size_t reportEnd = longRun.out.find("frameCnt:0000\r");
  const size_t secondFrame = longRun.out.find("frameCnt:0001\r");
  ASSERT_NE(secondFrame, std::string::npos);
  ASSERT_NE(longRun.out.find("Out of Roi Range: (", secondFrame), std::string::npos)
      << "the grid was meant to give window-test lines";
  EXPECT_EQ(chunk.out, longRun.out.substr(0, reportEnd) + longRun.out.substr(secondFrame));
}

TEST_F(LongSequence, OutputDirHoldsResult) {
  testing::writeSequence(dir, 0, 1);
  const testing::ProcessResult run = sequence({"--output-dir", "out put/deep"}, "1", dir);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(filesIn(dir + "/out put/deep/Result").size(), 9u);
  EXPECT_FALSE(fs::exists(dir + "/Result"));
}

}  // namespace
}  // namespace plenoview
