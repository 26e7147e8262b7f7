#include "tests/test_support.h"

#include <opencv2/core.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace plenoview::testing {

namespace fs = std::filesystem;

const char* const kWorkedExampleReport =
    "==========MicroLens Parameter==========\n"
    "diameter: 20\n"
    "rotation: 0\n"
    "num: [3, 5]\n"
    "center: [100, 50]\n"
    "offset[0]: [0, 0]\n"
    "offset[1]: [1, 0]\n"
    "offset[2]: [2, 0]\n"
    "subGridRefPos[0][0]: [40, 15.359]\n"
    "subGridRefPos[0][1]: [20, 15.359]\n"
    "subGridRefPos[0][2]: [60, 15.359]\n"
    "subGridRefPos[1][0]: [10, 32.6795]\n"
    "subGridRefPos[1][1]: [50, 32.6795]\n"
    "subGridRefPos[1][2]: [30, 32.6795]\n"
    "=======================================\n";

::testing::AssertionResult sameImage(const cv::Mat& actual, const cv::Mat& expected) {
  if (actual.size() != expected.size() || actual.type() != expected.type()) {
    return ::testing::AssertionFailure()
           << "size/type " << actual.size() << "/" << actual.type() << " vs expected "
           << expected.size() << "/" << expected.type();
  }
  if (actual.empty()) return ::testing::AssertionSuccess();
  cv::Mat diff;
  cv::absdiff(actual, expected, diff);
  diff = diff.reshape(1);  // channels side by side in one row
  if (cv::countNonZero(diff) == 0) return ::testing::AssertionSuccess();
  cv::Point at;
  double worst = 0;
  cv::minMaxLoc(diff, nullptr, &worst, nullptr, &at);
  return ::testing::AssertionFailure()
         << "max |diff| " << worst << " at x=" << at.x / actual.channels() << " y=" << at.y
         << " channel " << at.x % actual.channels();
}

std::string makeTestDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const fs::path dir = fs::temp_directory_path() / "plenoview_tests" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

void writeTextFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

ProcessResult runCommand(const std::string& command, const std::string& workDir) {
  const fs::path outPath = fs::path(workDir) / ".stdout";
  const fs::path errPath = fs::path(workDir) / ".stderr";
  const std::string full = "cd " + shellQuote(workDir) + " && " + command + " >" +
                           shellQuote(outPath.string()) + " 2>" + shellQuote(errPath.string()) +
                           " </dev/null";
  const int status = std::system(full.c_str());
  ProcessResult result;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::stringstream out, err;
  out << std::ifstream(outPath, std::ios::binary).rdbuf();
  err << std::ifstream(errPath, std::ios::binary).rdbuf();
  result.out = out.str();
  result.err = err.str();
  fs::remove(outPath);
  fs::remove(errPath);
  return result;
}

}  // namespace plenoview::testing
