// The bundled sample must be what the generator makes today from the command
// in scripts/make-sample: a change to the generator that is not followed by a
// new sample fails here. Pixels are compared, not PNG bytes, so that another
// zlib cannot fail it.

#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <sstream>
#include <string>

namespace plenoview {
namespace {

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The generator's command line in the script, continuation lines joined.
std::string sampleCommand() {
  const std::string script = readText(std::string(PLENOVIEW_SOURCE_DIR) + "/scripts/make-sample");
  const std::string start = "build/plenoview-synth ";
  const std::string::size_type at = script.find(start);
  if (at == std::string::npos) return "";
  std::string command;
  for (std::string::size_type i = at + start.size(); i < script.size() && script[i] != '\n'; ++i) {
    if (script[i] == '\\' && i + 1 < script.size() && script[i + 1] == '\n') {
      i += 1;
      continue;
    }
    command += script[i];
  }
  return command;
}

TEST(SampleData, IsWhatTheGeneratorMakesFromMakeSample) {
  const std::string sample = std::string(PLENOVIEW_SOURCE_DIR) + "/data/sample";
  const std::string arguments = sampleCommand();
  ASSERT_NE(arguments, "") << "no plenoview-synth command in scripts/make-sample";
  const std::string dir = testing::makeTestDir();
  // Only frame 0, into the test's folder: later options win.
  const testing::ProcessResult r = testing::runCommand(
      "sample=" + testing::shellQuote(sample) + "; " + testing::shellQuote(PLENOVIEW_SYNTH_BINARY) +
          " " + arguments + " --frames 1 --out out --preview out/readme-crop.png",
      dir);
  ASSERT_EQ(r.exitStatus, 0) << r.err;

  EXPECT_EQ(readText(dir + "/out/calib.xml"), readText(sample + "/calib.xml"));
  for (const char* file : {"frame000.png", "readme-crop.png", "truth/texture_f0000.png",
                           "truth/patch_size_f0000_t0.png", "truth/patch_size_f0000_t1.png",
                           "truth/patch_size_f0000_t2.png"}) {
    const cv::Mat made = cv::imread(dir + "/out/" + file, cv::IMREAD_UNCHANGED);
    const cv::Mat bundled = cv::imread(sample + "/" + file, cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(bundled.empty()) << file;
    EXPECT_TRUE(testing::sameImage(made, bundled)) << file;
  }
}

}  // namespace
}  // namespace plenoview
