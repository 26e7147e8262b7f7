#pragma once

// Shared by the end-to-end tests of long sequences: a small calibration, a
// generated sequence of frames, the real binary started in the background,
// and the Result folder as a map of file names to bytes.

#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace plenoview::testing {

// A 3-type grid of D = 20 over a 200 x 100 frame: 3 lenses per type and row,
// 5 rows.
inline const char* const kSequenceCalibration =
    "<RayCalibData>\n"
    "  <diameter>20</diameter>\n"
    "  <rotation>0</rotation>\n"
    "  <offset><x>0</x><y>0</y></offset>\n"
    "  <lens_type id=\"0\"><offset><x>0</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"1\"><offset><x>1</x><y>0</y></offset></lens_type>\n"
    "  <lens_type id=\"2\"><offset><x>2</x><y>0</y></offset></lens_type>\n"
    "</RayCalibData>\n";

// Frame k of the generated sequence: 200 x 100 grey, different for every k.
inline cv::Mat sequenceFrame(int k) {
  cv::Mat frame(100, 200, CV_8UC1);
  cv::RNG rng(static_cast<uint64_t>(k) + 1);
  rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
  return frame;
}

// Writes calib.xml and frames first .. end-1 as f000.png, f001.png, ... into dir.
inline void writeSequence(const std::string& dir, int first, int end) {
  writeTextFile(dir + "/calib.xml", kSequenceCalibration);
  for (int k = first; k < end; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "/f%03d.png", k);
    cv::imwrite(dir + name, sequenceFrame(k));
  }
}

// File name -> bytes of every file in `folder`, hidden ones included.
inline std::map<std::string, std::string> filesIn(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::is_directory(folder)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ostringstream bytes;
    bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    files[entry.path().filename()] = bytes.str();
  }
  return files;
}

// Names of the files whose bytes differ between two folders' maps, and the
// names present in only one of them.
inline std::vector<std::string> differingFiles(const std::map<std::string, std::string>& a,
                                               const std::map<std::string, std::string>& b) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : a) {
    const auto other = b.find(name);
    if (other == b.end() || other->second != bytes) names.push_back(name);
  }
  for (const auto& [name, bytes] : b) {
    if (a.find(name) == a.end()) names.push_back(name);
  }
  return names;
}

// plenoview without a display, run to its end in `dir`.
inline ProcessResult runPlenoview(const std::string& args, const std::string& dir) {
  return runCommand(
      std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") + shellQuote(PLENOVIEW_BINARY) + " " + args,
      dir);
}

// The real binary started in the background in `dir` with the default action
// for SIGINT and SIGTERM (a background job of a shell would ignore SIGINT),
// stdout and stderr going to dir/.out and dir/.err.
class BackgroundPlenoview {
 public:
  BackgroundPlenoview(const std::string& dir, const std::vector<std::string>& args) : dir_(dir) {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      const int out = open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(".err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::signal(SIGINT, SIG_DFL);
      std::signal(SIGTERM, SIG_DFL);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(PLENOVIEW_BINARY));
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(PLENOVIEW_BINARY, argv.data());
      _exit(127);
    }
  }
  ~BackgroundPlenoview() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits until `folder` holds at least `count` view files under final
  // names (or the process ended, or 20 s passed). False on timeout or end.
  bool waitForViews(const std::string& folder, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      int views = 0;
      std::error_code error;
      for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
           it.increment(error)) {
        views += it->path().filename().string().rfind("Result_", 0) == 0;
      }
      if (views >= count) return true;
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        waited_ = true;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
  }

  void signal(int number) { kill(pid_, number); }

  // Exit status as a shell reports it: the code, or 128 + the signal.
  int wait() {
    if (!waited_) waitpid(pid_, &status_, 0);
    waited_ = true;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }

  std::string out() const { return slurp(dir_ + "/.out"); }
  std::string err() const { return slurp(dir_ + "/.err"); }

 private:
  static std::string slurp(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
  }

  std::string dir_;
  pid_t pid_ = -1;
  bool waited_ = false;
  int status_ = 0;
};

}  // namespace plenoview::testing
