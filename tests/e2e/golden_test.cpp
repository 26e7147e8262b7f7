// The whole pipeline against outputs computed by an independent implementation: eight small
// cases that vary the frame size, fractional diameters, rotations, lens-type roles, N and the
// channel count, one or two frames each. Any change that moves a pixel (a loop order where
// patches overlap, a rounding) or a console line shows here.

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <regex>
#include <string>

namespace plenoview::testing {
namespace {

namespace fs = std::filesystem;

// The value of "key": <number> in a case's args.json.
std::string jsonNumber(const std::string& json, const std::string& key) {
  std::smatch match;
  const std::regex pattern("\"" + key + "\"\\s*:\\s*(-?[0-9]+)");
  return std::regex_search(json, match, pattern) ? match[1].str() : "";
}

class GoldenCase : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenCase, MatchesIndependentImplementation) {
  const fs::path source = fs::path(PLENOVIEW_SOURCE_DIR) / "tests/data/golden" / GetParam();
  const std::string args = readFile(source / "args.json");
  const std::string frames = jsonNumber(args, "frames");
  const std::string views = jsonNumber(args, "views");
  ASSERT_FALSE(frames.empty() || views.empty()) << args;
  // Once as the CPU allows (AVX2 where it has it) and once on the baseline
  // loops only: both must give the same bytes.
  for (const char* environment : {"PLENOVIEW_BASELINE_ONLY", "PLENOVIEW_BASELINE_ONLY=1"}) {
    SCOPED_TRACE(environment);
    const fs::path dir = makeTestDir();
    for (const auto& entry : fs::directory_iterator(source)) {
      if (entry.is_regular_file()) fs::copy_file(entry.path(), dir / entry.path().filename());
    }
    // The expected run was made in /tmp/golden/<case> with absolute paths, which its first two
    // lines echo; this run names its own folder instead.
    const ProcessResult run = runPlenoview(
        {(dir / "calib.xml").string(), (dir / "frame_%03d.png").string(), frames, views},
        dir.string(), {environment});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::string expectedOut = readFile(source / "expected/stdout.txt");
    const std::string recordedDir = std::string("/tmp/golden/") + GetParam();
    for (size_t at = expectedOut.find(recordedDir); at != std::string::npos;
         at = expectedOut.find(recordedDir, at)) {
      expectedOut.replace(at, recordedDir.size(), dir.string());
      at += dir.string().size();
    }
    EXPECT_EQ(run.out, expectedOut);
    const fs::path expectedViews = source / "expected/Result";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(expectedViews)) {
      const std::string name = entry.path().filename().string();
      const cv::Mat expected = cv::imread(entry.path().string(), cv::IMREAD_UNCHANGED);
      const cv::Mat actual = cv::imread((dir / "Result" / name).string(), cv::IMREAD_UNCHANGED);
      EXPECT_TRUE(sameImage(actual, expected)) << name;
      ++compared;
    }
    EXPECT_EQ(compared, std::stoi(frames) * std::stoi(views) * std::stoi(views));
    EXPECT_EQ(filesIn((dir / "Result").string()).size(), static_cast<size_t>(compared))
        << "the run wrote files the independent implementation did not";
  }
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenCase,
                         ::testing::Values("case01", "case02", "case03", "case04", "case05",
                                           "case06", "case07", "case08"));

}  // namespace
}  // namespace plenoview::testing
