// End-to-end tests of the windows and keys: the real plenoview runs in a
// private X server (Xvfb) and gets real key presses through xdotool. Every wait
// is bounded, and every process started here is ended in the teardown. Also:
// a display that does not answer, which needs no X server at all.

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using plenoview::testing::BackgroundProcess;
using plenoview::testing::makeTestDir;
using plenoview::testing::readFile;
using plenoview::testing::waitUntil;
using plenoview::testing::writeTextFile;
using Clock = std::chrono::steady_clock;

constexpr int kViews = 3;  // N: 9 files per frame
// Long enough that the keys always land before the sequence runs out; the
// tests end the run with 'q' long before.
constexpr int kLongRun = 20000;
constexpr auto kStartTimeout = std::chrono::seconds(20);    // first window, Qt under ASan is slow
constexpr auto kKeyTimeout = std::chrono::seconds(3);       // one key press taking effect
constexpr auto kPressesTimeout = std::chrono::seconds(30);  // all presses of one key together

const char* const kInspectionTitles[] = {
    "rawImage",
    "drawImage",
    "patchMapVisualization",
    "multiViewImage[LensType][View.x][View.y]",
};

// Anchored, escaped pattern for xdotool's --name.
std::string titlePattern(const std::string& title) {
  std::string pattern = "^";
  for (char c : title) {
    if (std::string("[].\\^$*+?(){}|").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

// calib.xml and frame.png: a 120 x 90 grey ramp. The grid: D = 10, centre
// (60, 45), 9 lens rows, 11 lens columns (3 per type).
void writeCase(const fs::path& dir) {
  writeTextFile(dir / "calib.xml", testing::CalibrationXml().set("diameter", "10"));
  cv::Mat frame(90, 120, CV_8UC1);
  for (int y = 0; y < frame.rows; ++y) {
    for (int x = 0; x < frame.cols; ++x) frame.at<uchar>(y, x) = static_cast<uchar>(x + y);
  }
  ASSERT_TRUE(cv::imwrite((dir / "frame.png").string(), frame));
}

// The names of the files in Result/, sorted.
std::vector<std::string> saved(const fs::path& workDir) {
  return testing::namesIn((workDir / "Result").string());
}

class WindowsAndKeys : public ::testing::Test {
 protected:
  // One X server for the suite.
  static void SetUpTestSuite() { xvfb_ = new testing::PrivateXServer; }

  static void TearDownTestSuite() {
    delete xvfb_;
    xvfb_ = nullptr;
  }

  void SetUp() override {
    display_ = xvfb_->display();
    if (display_.empty()) GTEST_SKIP() << "no X server for the GUI tests: " << xvfb_->problem();
    prepare(makeTestDir());
  }

  // Makes `dir` the test's folder, with the case in it.
  void prepare(const fs::path& dir) {
    dir_ = dir;
    // Qt wants a private runtime directory and complains on stderr without one.
    fs::create_directories(dir_ / "xdg");
    fs::permissions(dir_ / "xdg", fs::perms::owner_all, fs::perm_options::replace);
    writeCase(dir_);
  }

  void TearDown() override {
    if (HasFailure() && !dir_.empty()) {
      std::cerr << "plenoview stderr:\n" << readFile(dir_ / "gui.err") << std::endl;
    }
    plenoview_.stop();
  }

  // Starts plenoview on the private display with `frames` frames of frame.png.
  void startWithWindows(int frames) {
    testing::ProcessOptions options;
    options.workDir = dir_;
    options.environment = {"DISPLAY=" + display_, "WAYLAND_DISPLAY",
                           "XDG_RUNTIME_DIR=" + (dir_ / "xdg").string()};
    plenoview_.start(testing::plenoviewCommand({"calib.xml", "frame.png", std::to_string(frames),
                                                std::to_string(kViews)}),
                     options, (dir_ / "gui.out").string(), (dir_ / "gui.err").string());
  }

  // Runs a program on the private display for at most 5 s (10 s with
  // `slow`); true when it exits with 0.
  bool onDisplay(const std::vector<std::string>& argv, bool slow = false) {
    testing::ProcessOptions options;
    options.workDir = dir_;
    options.environment = {"DISPLAY=" + display_};
    options.timeout = std::chrono::seconds(slow ? 10 : 5);
    return testing::runProcess(argv, options).exitStatus == 0;
  }

  bool windowExists(const std::string& title) {
    return onDisplay({"xdotool", "search", "--name", titlePattern(title)});
  }

  // Waits for the centre-view window; false when the run ended first or the
  // start timeout passed.
  bool firstWindowShown() {
    return waitUntil(kStartTimeout,
                     [this] { return plenoview_.finished() || windowExists("multiViewImage"); }) &&
           !plenoview_.finished();
  }

  // Focuses the centre-view window and types `key` into it.
  void press(char key) {
    onDisplay({"xdotool", "search", "--name", titlePattern("multiViewImage"), "windowfocus", "key",
               std::string(1, key)});
  }

  // Presses 'v' until an inspection is open (its overlay file appears). A
  // press taken by the driver's poll is lost, which shows as frames still
  // being saved afterwards; only then is 'v' pressed again, since a second
  // press would close an inspection that is merely slow to show.
  bool openInspection() {
    constexpr size_t kLostAfterFiles = 3 * kViews * kViews;  // 3 more frames, 6 polls
    const auto end = Clock::now() + kPressesTimeout;
    for (int attempt = 1; Clock::now() < end && !plenoview_.finished(); ++attempt) {
      press('v');
      const size_t pressedAt = saved(dir_).size();
      bool lost = false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      const bool open = waitUntil(left, [&] {
        lost = saved(dir_).size() >= pressedAt + kLostAfterFiles || plenoview_.finished();
        return lost || fs::exists(dir_ / "drawImage.png");
      });
      if (open && !lost) {
        std::cerr << "'v' presses until paused: " << attempt << std::endl;
        return true;
      }
      if (!lost) return false;
    }
    return false;
  }

  // Presses 'q' until the run ends; only the driver's poll reacts to it.
  bool quit() {
    const auto end = Clock::now() + kPressesTimeout;
    for (int attempt = 1; Clock::now() < end; ++attempt) {
      press('q');
      if (plenoview_.waitForExit(std::chrono::milliseconds(300))) {
        std::cerr << "'q' presses until the end: " << attempt
                  << ", files saved: " << saved(dir_).size() << std::endl;
        return true;
      }
    }
    return false;
  }

  // The frame of the last counter on stdout ("frameCnt:%04d\r"); -1 without one.
  int lastCounted() const {
    const std::string out = readFile(dir_ / "gui.out");
    const size_t at = out.rfind("frameCnt:");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 9);
  }

  // Expects frames 0 .. last saved in full (N x N files each) and nothing else.
  void expectFramesSavedInFull(int last) {
    std::vector<std::string> expected = testing::viewFileNames(0, last + 1, kViews);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(saved(dir_), expected);
  }

  // Runs the same sequence without windows and expects the same stdout and
  // the same Result files, byte for byte.
  //
  // The ImageNum line is the one difference on stdout: the run with windows
  // was given more frames than it got through before 'q'.
  void expectSameHeadless(int frames, const std::vector<std::string>& environment,
                          const std::vector<std::string>& options, const std::string& expectedErr) {
    const fs::path headless = dir_ / "headless";
    fs::create_directories(headless);
    fs::copy_file(dir_ / "calib.xml", headless / "calib.xml");
    fs::copy_file(dir_ / "frame.png", headless / "frame.png");
    std::vector<std::string> args = options;
    args.insert(args.end(),
                {"calib.xml", "frame.png", std::to_string(frames), std::to_string(kViews)});
    const testing::ProcessResult run = testing::runPlenoview(args, headless.string(), environment);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    // stderr: `expectedErr`, then the closing summary of all the frames asked for.
    const std::string summary = expectedErr + "summary: " + std::to_string(frames) +
                                (frames == 1 ? " frame" : " frames") +
                                " done, 0 skipped, 0 failed in ";
    EXPECT_EQ(run.err.substr(0, summary.size()), summary) << run.err;
    std::string expectedOut = readFile(dir_ / "gui.out");
    const std::string asked = "ImageNum: " + std::to_string(kLongRun) + "\n";
    ASSERT_NE(expectedOut.find(asked), std::string::npos);
    expectedOut.replace(expectedOut.find(asked), asked.size(),
                        "ImageNum: " + std::to_string(frames) + "\n");
    EXPECT_EQ(run.out, expectedOut);
    EXPECT_FALSE(fs::exists(headless / "drawImage.png"));
    EXPECT_EQ(testing::differingFiles(testing::filesIn((headless / "Result").string()),
                                      testing::filesIn((dir_ / "Result").string())),
              std::vector<std::string>{});
  }

  // With PLENOVIEW_SCREENSHOT=<file> set, lays the windows out one below the
  // other and saves the screen there, for a look by eye.
  void screenshotIfAsked() {
    const char* path = std::getenv("PLENOVIEW_SCREENSHOT");
    if (path == nullptr || *path == '\0') return;
    int y = 0;
    std::vector<std::string> titles = {"multiViewImage"};
    titles.insert(titles.end(), std::begin(kInspectionTitles), std::end(kInspectionTitles));
    for (const std::string& title : titles) {
      onDisplay({"xdotool", "search", "--name", titlePattern(title), "windowmove", "0",
                 std::to_string(y)});
      y += 190;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    onDisplay({"import", "-window", "root", path}, true);
    std::cerr << "screenshot: " << path << std::endl;
  }

  static inline testing::PrivateXServer* xvfb_ = nullptr;
  std::string display_;
  fs::path dir_;
  BackgroundProcess plenoview_;
};

TEST_F(WindowsAndKeys, QuitKeyEndsTheRunAfterAFrameSavedInFull) {
  // 'q' from the first window on, and from within later frames, where a
  // frame's last views are still being written while the next frame begins:
  // each time the run ends on whole frames, with the stdout and the files of a
  // run without windows over as many frames.
  const fs::path base = dir_;
  for (const size_t filesFirst : {size_t{0}, size_t{4 * kViews * kViews + 4}, size_t{200}}) {
    SCOPED_TRACE("'q' once " + std::to_string(filesFirst) + " files are written");
    prepare(base / ("q" + std::to_string(filesFirst)));
    startWithWindows(kLongRun);
    ASSERT_TRUE(firstWindowShown()) << "no window \"multiViewImage\"";
    ASSERT_TRUE(waitUntil(
        kStartTimeout, [&] { return plenoview_.finished() || saved(dir_).size() >= filesFirst; }));
    ASSERT_FALSE(plenoview_.finished()) << "the run ended before a key was pressed";
    ASSERT_TRUE(quit()) << "'q' did not end the run";
    EXPECT_EQ(plenoview_.exitStatus(), 0);

    // The counter of the last frame closes stdout.
    const std::string out = readFile(dir_ / "gui.out");
    const int last = lastCounted();
    ASSERT_GE(last, 0) << out;
    EXPECT_EQ(out.substr(out.rfind("frameCnt:")), testing::frameCounters(last, last + 1));
    EXPECT_EQ(
        out.rfind(
            testing::argumentLines("calib.xml", "frame.png", std::to_string(kLongRun), kViews), 0),
        0u);
    EXPECT_LT(last, kLongRun - 1) << "'q' must end the run early";
    EXPECT_GE((last + 1) * kViews * kViews, filesFirst);
    expectFramesSavedInFull(last);
    EXPECT_FALSE(fs::exists(dir_ / "drawImage.png")) << "no inspection was asked for";

    // Without a display the same frames give the same output, and the
    // fallback is noted once on stderr.
    expectSameHeadless(last + 1, {"DISPLAY", "WAYLAND_DISPLAY"}, {},
                       "plenoview: note: no display (DISPLAY and WAYLAND_DISPLAY are unset), "
                       "running without windows\n");
  }
}

TEST_F(WindowsAndKeys, InspectKeyPausesOnTheFrameUntilPressedAgain) {
  startWithWindows(kLongRun);
  ASSERT_TRUE(firstWindowShown()) << "no window \"multiViewImage\"";
  ASSERT_TRUE(openInspection()) << "'v' did not open the inspection";

  for (const char* title : kInspectionTitles) {
    EXPECT_TRUE(waitUntil(kKeyTimeout, [&] { return windowExists(title); }))
        << "no window \"" << title << "\"";
  }

  // Paused: the frame in hand is not saved yet, and no later one is started.
  const size_t pausedCount = saved(dir_).size();
  EXPECT_EQ(pausedCount % (kViews * kViews), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(saved(dir_).size(), pausedCount) << "a frame was processed during the inspection";

  // The overlay is drawn on the prepared frame: 120 x 90 padded by N/2 = 1 on
  // every side is 122 x 92, so the blue cross runs through (61, 46).
  // Every pass rewrites the file, so a read may catch it half written.
  cv::Mat overlay;
  waitUntil(kKeyTimeout, [&] {
    overlay = cv::imread((dir_ / "drawImage.png").string(), cv::IMREAD_UNCHANGED);
    return !overlay.empty();
  });
  ASSERT_EQ(overlay.type(), CV_8UC3);
  EXPECT_EQ(overlay.size(), cv::Size(122, 92));
  EXPECT_EQ(overlay.at<cv::Vec3b>(5, 61), cv::Vec3b(255, 0, 0));
  EXPECT_EQ(overlay.at<cv::Vec3b>(46, 110), cv::Vec3b(255, 0, 0));

  screenshotIfAsked();

  // 'q' during the inspection is read and dropped: the run stays paused.
  press('q');
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_FALSE(plenoview_.finished()) << "'q' during the inspection ended the run";
  EXPECT_EQ(saved(dir_).size(), pausedCount);

  // While paused only the inspection polls, so one 'v' always resumes.
  press('v');
  EXPECT_TRUE(waitUntil(kKeyTimeout, [&] { return saved(dir_).size() > pausedCount; }))
      << "the run did not continue after the second 'v'";
  ASSERT_TRUE(quit()) << "'q' did not end the run";
  EXPECT_EQ(plenoview_.exitStatus(), 0);
  const int last = lastCounted();
  expectFramesSavedInFull(last);

  // With --no-window not even a display that does not exist is touched: any
  // window attempt would end the run with an error.
  expectSameHeadless(last + 1, {"DISPLAY=:65000", "WAYLAND_DISPLAY"}, {"--no-window"}, "");
}

// A display that is named but does not answer (a closed ssh -X session, a
// variable left over in tmux): the run goes on without windows exactly as
// without a display, with the same files and stdout, and says so once.
TEST(DisplayThatDoesNotAnswer, RunsWithoutWindowsAndSaysSoOnce) {
  const std::string display = testing::unservedDisplay();
  const fs::path dir = makeTestDir();
  writeCase(dir);
  fs::create_directories(dir / "asked");
  fs::create_directories(dir / "off");

  const testing::ProcessResult asked = testing::runPlenoview(
      {"../calib.xml", "../frame.png", "3", "3"}, (dir / "asked").string(), {"DISPLAY=" + display});
  const testing::ProcessResult off = testing::runPlenoview(
      {"--no-window", "../calib.xml", "../frame.png", "3", "3"}, (dir / "off").string());

  EXPECT_EQ(asked.exitStatus, 0) << asked.err;
  ASSERT_EQ(off.exitStatus, 0) << off.err;
  EXPECT_EQ(asked.out, off.out);
  const std::string note = "plenoview: note: no display (DISPLAY \"" + display +
                           "\" accepts no connection), running without windows\n";
  const std::string summary = "summary: 3 frames done, 0 skipped, 0 failed in ";
  EXPECT_EQ(asked.err.substr(0, note.size()), note) << asked.err;
  EXPECT_EQ(asked.err.substr(note.size(), summary.size()), summary) << asked.err;
  EXPECT_EQ(std::count(asked.err.begin(), asked.err.end(), '\n'), 2) << asked.err;
  EXPECT_EQ(off.err.rfind(summary, 0), 0u) << off.err;

  const auto views = testing::filesIn((dir / "off" / "Result").string());
  EXPECT_EQ(views.size(), 3u * kViews * kViews);
  EXPECT_EQ(testing::differingFiles(testing::filesIn((dir / "asked" / "Result").string()), views),
            std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dir / "asked" / "drawImage.png"));
}

}  // namespace
}  // namespace plenoview
