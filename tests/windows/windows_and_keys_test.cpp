// End-to-end tests of the windows and keys: the real plenoview runs in a
// private X server (Xvfb) and gets real key presses through xdotool. Every wait
// is bounded, and every process started here is ended in the teardown.

#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using plenoview::testing::makeTestDir;
using plenoview::testing::runCommand;
using plenoview::testing::shellQuote;
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

// The grid of this calibration on a 120 x 90 frame: centre (60, 45), 9 lens
// rows, 11 lens columns (3 per type).
const char* const kCalibration =
    "<RayCalibData>\n"
    "  <diameter>10</diameter>\n"
    "  <rotation>0</rotation>\n"
    "  <offset><x>0</x><y>0</y></offset>\n"
    "  <lens_type id=\"0\"><offset><x>0</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"1\"><offset><x>1</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"2\"><offset><x>2</x><y>0</y></offset></lens_type>\n"
    "</RayCalibData>\n";

// Anchored, escaped pattern for xdotool's --name.
std::string titlePattern(const std::string& title) {
  std::string pattern = "^";
  for (char c : title) {
    if (std::string("[].\\^$*+?(){}|").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

// Polls `done` every 20 ms until it holds or `timeout` has passed.
bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  const auto end = Clock::now() + timeout;
  while (true) {
    if (done()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// A child process; killed (if still running) and reaped when it goes out of
// scope.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { stop(); }

  // Starts argv[0] (a path) in `workDir` with `environment` (NAME=value
  // entries; an entry "NAME" alone removes NAME), stdout and stderr to files,
  // stdin from /dev/null. The child dies with the test process.
  void start(const std::vector<std::string>& argv, const std::string& workDir,
             const std::vector<std::string>& environment, const std::string& outPath,
             const std::string& errPath, int keepFd = -1) {
    pid_ = fork();
    if (pid_ != 0) return;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (chdir(workDir.c_str()) != 0) _exit(127);
    for (const std::string& entry : environment) {
      const size_t eq = entry.find('=');
      if (eq == std::string::npos) {
        unsetenv(entry.c_str());
      } else {
        setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
      }
    }
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != keepFd) close(fd);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }

  bool started() const { return pid_ > 0; }

  // True once the child has ended; its exit status is then in exitStatus().
  bool finished() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return true;
  }

  bool waitForExit(std::chrono::milliseconds timeout) {
    return waitUntil(timeout, [this] { return finished(); });
  }

  int exitStatus() const { return exitStatus_; }

  // Asks the child to end (SIGTERM) and gives it `grace` to clean up (an X
  // server removes its lock and socket) before it is killed.
  void terminate(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!waitForExit(grace)) stop();
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
};

std::string readFile(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// The frame index of a view file name "Result_f<frame, 4 digits or more>_c<x:02><y:02>.png",
// or -1 for any other name.
int viewFileFrame(const std::string& name) {
  const std::string head = "Result_f";
  const std::string tail = ".png";
  if (name.size() < head.size() + 4 + 6 + tail.size() || name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return -1;
  }
  const std::string middle = name.substr(head.size(), name.size() - head.size() - tail.size());
  const std::string digits = middle.substr(0, middle.size() - 6);  // before "_cXXYY"
  const std::string view = middle.substr(middle.size() - 6);
  auto allDigits = [](const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!allDigits(digits) || view.compare(0, 2, "_c") != 0 || !allDigits(view.substr(2))) return -1;
  return std::stoi(digits);
}

// Frame indices and view names of Result/Result_fFFFF_cXXYY.png files.
std::map<int, std::vector<std::string>> savedFrames(const fs::path& workDir) {
  std::map<int, std::vector<std::string>> frames;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(workDir / "Result", error)) {
    const std::string name = entry.path().filename().string();
    const int frame = viewFileFrame(name);
    if (frame >= 0) {
      frames[frame].push_back(name);
    } else {
      frames[-1].push_back(name);  // anything unexpected
    }
  }
  return frames;
}

size_t savedFileCount(const fs::path& workDir) {
  std::error_code error;
  size_t count = 0;
  for (auto it = fs::directory_iterator(workDir / "Result", error);
       !error && it != fs::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

// The lines the program prints before its frame counter: the four arguments.
std::string argumentLines(const std::string& frames) {
  return "CalibPath: calib.xml\nImagePath: frame.png\nImageNum: " + frames +
         "\nViewNum: " + std::to_string(kViews) + "\n";
}

class WindowsAndKeys : public ::testing::Test {
 protected:
  // One X server for the suite, on a display number it picks itself
  // (-displayfd), so parallel test processes never collide. -noreset: by
  // default the server resets when its last client leaves, and a client that
  // connects during the reset is refused.
  static void SetUpTestSuite() {
    int fds[2];
    if (pipe(fds) != 0) {
      xvfbProblem_ = "cannot create a pipe";
      return;
    }
    xvfb_ = new Child;
    const std::string log =
        (fs::temp_directory_path() / ("plenoview_xvfb_" + std::to_string(getpid()) + ".log"))
            .string();
    xvfb_->start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                  "-nolisten", "tcp", "-noreset"},
                 "/", {}, "/dev/null", log, fds[1]);
    close(fds[1]);
    std::string number;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end && number.find('\n') == std::string::npos) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        char buffer[16];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;  // the server ended before it was ready
        number.append(buffer, static_cast<size_t>(n));
      }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
      xvfbProblem_ =
          "Xvfb did not start within 10 s (is package xvfb installed?): " + readFile(log);
      xvfb_->stop();
      return;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
    // Clients must be able to connect before the tests start.
    const fs::path probeDir =
        fs::temp_directory_path() / ("plenoview_xvfb_probe_" + std::to_string(getpid()));
    fs::create_directories(probeDir);
    const bool connects = waitUntil(std::chrono::seconds(10), [&] {
      return runCommand("DISPLAY=" + display_ + " timeout 5 xdpyinfo", probeDir.string())
                 .exitStatus == 0;
    });
    fs::remove_all(probeDir);
    if (!connects) {
      xvfbProblem_ = "Xvfb on " + display_ + " accepts no clients: " + readFile(log);
      display_.clear();
      xvfb_->terminate(std::chrono::seconds(3));
      return;
    }
    fs::remove(log);
  }

  static void TearDownTestSuite() {
    if (xvfb_ != nullptr) xvfb_->terminate(std::chrono::seconds(3));
    delete xvfb_;
    xvfb_ = nullptr;
  }

  void SetUp() override {
    if (display_.empty()) GTEST_SKIP() << "no X server for the GUI tests: " << xvfbProblem_;
    dir_ = makeTestDir();
    writeTextFile(dir_ / "calib.xml", kCalibration);
    cv::Mat frame(90, 120, CV_8UC1);
    for (int y = 0; y < frame.rows; ++y) {
      for (int x = 0; x < frame.cols; ++x) frame.at<uchar>(y, x) = static_cast<uchar>(x + y);
    }
    ASSERT_TRUE(cv::imwrite((dir_ / "frame.png").string(), frame));
    // Qt wants a private runtime directory and complains on stderr without one.
    fs::create_directories(dir_ / "xdg");
    fs::permissions(dir_ / "xdg", fs::perms::owner_all, fs::perm_options::replace);
  }

  void TearDown() override {
    if (HasFailure() && !dir_.empty()) {
      std::cerr << "plenoview stderr:\n" << readFile(dir_ / "gui.err") << std::endl;
    }
    plenoview_.stop();
  }

  // Starts plenoview on the private display with `frames` frames of frame.png.
  void startWithWindows(int frames) {
    plenoview_.start(
        {PLENOVIEW_BINARY, "calib.xml", "frame.png", std::to_string(frames),
         std::to_string(kViews)},
        dir_,
        {"DISPLAY=" + display_, "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR=" + (dir_ / "xdg").string()},
        (dir_ / "gui.out").string(), (dir_ / "gui.err").string());
    ASSERT_TRUE(plenoview_.started());
  }

  // Runs xdotool on the private display; true when it exits with 0.
  bool xdotool(const std::string& arguments) {
    const auto result = runCommand("DISPLAY=" + display_ + " timeout 5 xdotool " + arguments, dir_);
    return result.exitStatus == 0;
  }

  bool windowExists(const std::string& title) {
    return xdotool("search --name " + shellQuote(titlePattern(title)));
  }

  // Focuses the centre-view window and types `key` into it.
  void press(char key) {
    xdotool("search --name " + shellQuote(titlePattern("multiViewImage")) + " windowfocus key " +
            std::string(1, key));
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
      const size_t pressedAt = savedFileCount(dir_);
      bool lost = false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      const bool open = waitUntil(left, [&] {
        lost = savedFileCount(dir_) >= pressedAt + kLostAfterFiles || plenoview_.finished();
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
                  << ", frames saved: " << savedFrames(dir_).size() << std::endl;
        return true;
      }
    }
    return false;
  }

  // Expects frames 0 .. last saved in full (N x N files each) and nothing else.
  void expectFramesSavedInFull(int last) {
    const auto frames = savedFrames(dir_);
    EXPECT_EQ(frames.count(-1), 0u) << "unexpected files in Result";
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.rbegin()->first, last) << "later frames must not be written";
    for (int k = 0; k <= last; ++k) {
      const auto it = frames.find(k);
      EXPECT_TRUE(it != frames.end() && it->second.size() == size_t{kViews * kViews})
          << "frame " << k << " not saved in full";
    }
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
    std::vector<std::string> argv = {PLENOVIEW_BINARY};
    argv.insert(argv.end(), options.begin(), options.end());
    for (const char* a : {"calib.xml", "frame.png"}) argv.push_back(a);
    argv.push_back(std::to_string(frames));
    argv.push_back(std::to_string(kViews));
    Child run;
    run.start(argv, headless.string(), environment, (headless / "run.out").string(),
              (headless / "run.err").string());
    ASSERT_TRUE(run.waitForExit(std::chrono::seconds(120))) << "headless run did not end";
    EXPECT_EQ(run.exitStatus(), 0) << readFile(headless / "run.err");
    // stderr ends in the closing summary: all the frames asked for, done.
    const std::string err = readFile(headless / "run.err");
    const std::string summary = "summary: " + std::to_string(frames) +
                                (frames == 1 ? " frame" : " frames") +
                                " done, 0 skipped, 0 failed in ";
    const size_t summaryAt = err.rfind("summary: ");
    ASSERT_NE(summaryAt, std::string::npos) << err;
    EXPECT_EQ(err.substr(summaryAt, summary.size()), summary) << err;
    EXPECT_EQ(err.substr(0, summaryAt), expectedErr);
    std::string expectedOut = readFile(dir_ / "gui.out");
    const std::string asked = "ImageNum: " + std::to_string(kLongRun) + "\n";
    ASSERT_NE(expectedOut.find(asked), std::string::npos);
    expectedOut.replace(expectedOut.find(asked), asked.size(),
                        "ImageNum: " + std::to_string(frames) + "\n");
    EXPECT_EQ(readFile(headless / "run.out"), expectedOut);
    EXPECT_FALSE(fs::exists(headless / "drawImage.png"));
    const auto withWindows = savedFrames(dir_);
    const auto without = savedFrames(headless);
    ASSERT_EQ(without.size(), withWindows.size());
    int differing = 0;
    for (const auto& [frame, names] : withWindows) {
      for (const std::string& name : names) {
        if (readFile(headless / "Result" / name) != readFile(dir_ / "Result" / name) &&
            ++differing <= 3) {
          ADD_FAILURE() << name << " differs between the runs with and without windows";
        }
      }
    }
  }

  // With PLENOVIEW_SCREENSHOT=<file> set, lays the windows out one below the
  // other and saves the screen there, for a look by eye.
  void screenshotIfAsked() {
    const char* path = std::getenv("PLENOVIEW_SCREENSHOT");
    if (path == nullptr || *path == '\0') return;
    int y = 0;
    for (const std::string title :
         {"multiViewImage", "rawImage", "drawImage", "patchMapVisualization",
          "multiViewImage[LensType][View.x][View.y]"}) {
      xdotool("search --name " + shellQuote(titlePattern(title)) + " windowmove 0 " +
              std::to_string(y));
      y += 190;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    runCommand("DISPLAY=" + display_ + " timeout 10 import -window root " + shellQuote(path), dir_);
    std::cerr << "screenshot: " << path << std::endl;
  }

  static inline Child* xvfb_ = nullptr;
  static inline std::string display_;
  static inline std::string xvfbProblem_;
  fs::path dir_;
  Child plenoview_;
};

TEST_F(WindowsAndKeys, QuitKeyEndsTheRunAfterAFrameSavedInFull) {
  startWithWindows(kLongRun);
  ASSERT_TRUE(waitUntil(kStartTimeout, [this] {
    return plenoview_.finished() || windowExists("multiViewImage");
  })) << "no window \"multiViewImage\"";
  ASSERT_FALSE(plenoview_.finished()) << "the run ended before a key was pressed";
  ASSERT_TRUE(quit()) << "'q' did not end the run";
  EXPECT_EQ(plenoview_.exitStatus(), 0);

  // The counter of the last frame closes stdout: "frameCnt:%04d\r".
  const std::string out = readFile(dir_ / "gui.out");
  const size_t lastCounter = out.rfind("frameCnt:");
  ASSERT_NE(lastCounter, std::string::npos);
  const int last = std::atoi(out.c_str() + lastCounter + 9);
  char counter[32];
  std::snprintf(counter, sizeof counter, "frameCnt:%04d\r", last);
  EXPECT_EQ(out.substr(lastCounter), counter);
  EXPECT_EQ(out.rfind(argumentLines(std::to_string(kLongRun)), 0), 0u);
  EXPECT_LT(last, kLongRun - 1) << "'q' must end the run early";
  expectFramesSavedInFull(last);
  EXPECT_FALSE(fs::exists(dir_ / "drawImage.png")) << "no inspection was asked for";

  // Without a display the same frames give the same output, and the fallback
  // is noted once on stderr.
  expectSameHeadless(last + 1, {"DISPLAY", "WAYLAND_DISPLAY"}, {},
                     "plenoview: note: no display (DISPLAY and WAYLAND_DISPLAY are unset), "
                     "running without windows\n");
}

TEST_F(WindowsAndKeys, InspectKeyPausesOnTheFrameUntilPressedAgain) {
  startWithWindows(kLongRun);
  ASSERT_TRUE(waitUntil(kStartTimeout, [this] {
    return plenoview_.finished() || windowExists("multiViewImage");
  })) << "no window \"multiViewImage\"";
  ASSERT_TRUE(openInspection()) << "'v' did not open the inspection";

  for (const char* title : kInspectionTitles) {
    EXPECT_TRUE(waitUntil(kKeyTimeout, [&] { return windowExists(title); }))
        << "no window \"" << title << "\"";
  }

  // Paused: the frame in hand is not saved yet, and no later one is started.
  const size_t pausedCount = savedFileCount(dir_);
  EXPECT_EQ(pausedCount % (kViews * kViews), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(savedFileCount(dir_), pausedCount) << "a frame was processed during the inspection";

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
  EXPECT_EQ(savedFileCount(dir_), pausedCount);

  // While paused only the inspection polls, so one 'v' always resumes.
  press('v');
  EXPECT_TRUE(waitUntil(kKeyTimeout, [&] { return savedFileCount(dir_) > pausedCount; }))
      << "the run did not continue after the second 'v'";
  ASSERT_TRUE(quit()) << "'q' did not end the run";
  EXPECT_EQ(plenoview_.exitStatus(), 0);
  const std::string out = readFile(dir_ / "gui.out");
  const int last = std::atoi(out.c_str() + out.rfind("frameCnt:") + 9);
  expectFramesSavedInFull(last);

  // With --no-window not even a display that does not exist is touched: any
  // window attempt would end the run with an error.
  expectSameHeadless(last + 1, {"DISPLAY=:65000", "WAYLAND_DISPLAY"}, {"--no-window"}, "");
}

}  // namespace
}  // namespace plenoview
