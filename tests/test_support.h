#pragma once

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <iostream>
#include <sstream>
#include <string>

namespace plenoview::testing {

// Exact image comparison: on failure, the largest difference and where it is.
::testing::AssertionResult sameImage(const cv::Mat& actual, const cv::Mat& expected);

// The 15-line grid report of the worked calibration example: D = 20 on a
// 200 x 100 frame, lens-type offsets 0, 1, 2 (derived by hand in the
// calibration tests).
extern const char* const kWorkedExampleReport;

// A fresh, empty directory for one test, named after the running test.
std::string makeTestDir();

// Writes `text` to `path`.
void writeTextFile(const std::string& path, const std::string& text);

// Result of running a program.
struct ProcessResult {
  int exitStatus = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

// Runs `command` through the shell in `workDir`, capturing stdout and stderr.
ProcessResult runCommand(const std::string& command, const std::string& workDir);

// Quotes `text` for the shell.
std::string shellQuote(const std::string& text);

}  // namespace plenoview::testing
