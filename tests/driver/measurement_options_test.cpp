// The options for measurements: --all-scale-levels (every scale level built
// whole, the reference way) and --threads N. Neither may change a byte of the
// output.

#include "base/plenoview_error.h"
#include "driver/command_line.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview {
namespace {

CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "plenoview");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(MeasurementOptions, AreParsedAnywhereAndCheckedOnce) {
  const CommandLine plain = parse({"c.xml", "f.png", "1", "3"});
  EXPECT_FALSE(plain.allScaleLevels);
  EXPECT_EQ(plain.threads, 0);
  const CommandLine line =
      parse({"--threads", "2", "c.xml", "f.png", "1", "3", "--all-scale-levels"});
  EXPECT_TRUE(line.allScaleLevels);
  EXPECT_EQ(line.threads, 2);
  EXPECT_EQ(line.viewNum, 3);

  const struct {
    std::vector<const char*> args;
    const char* mustSay;
  } bad[] = {
      {{"c.xml", "f.png", "1", "3", "--threads"}, "--threads needs a number"},
      {{"--threads", "0", "c.xml", "f.png", "1", "3"}, "--threads must be at least 1"},
      {{"--threads", "two", "c.xml", "f.png", "1", "3"}, "--threads must be a whole decimal"},
  };
  for (const auto& b : bad) {
    try {
      parse(b.args);
      ADD_FAILURE() << b.mustSay << ": accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(b.mustSay), std::string::npos) << e.what();
    }
  }
}

std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Two colour frames of a fractional-diameter grid, slightly rotated: run with
// the levels built whole on one thread, and on demand with one and with two
// threads.
TEST(MeasurementOptions, LeaveEveryOutputByteAsItIs) {
  namespace fs = std::filesystem;
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/calib.xml",
                         "<RayCalibData><diameter>10.7</diameter><rotation>-0.004</rotation>"
                         "<offset><x>4.5</x><y>-3.5</y></offset>"
                         "<lens_type id=\"0\"><offset><x>0</x><y>0</y></offset></lens_type>"
                         "<lens_type id=\"1\"><offset><x>1</x><y>0</y></offset></lens_type>"
                         "<lens_type id=\"2\"><offset><x>2</x><y>0</y></offset></lens_type>"
                         "</RayCalibData>");
  cv::RNG rng(11);
  for (int f = 0; f < 2; ++f) {
    cv::Mat frame(58, 75, CV_8UC3);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(frame, frame, cv::Size(3, 3), 0.7);
    ASSERT_TRUE(cv::imwrite(dir + "/frame" + std::to_string(f) + ".png", frame));
  }

  const std::string binary = testing::shellQuote(PLENOVIEW_BINARY);
  const struct {
    const char* name;
    const char* options;
  } runs[] = {
      {"whole", "--all-scale-levels --threads 1"}, {"one", "--threads 1"}, {"two", "--threads 2"}};
  std::string referenceOut;
  for (const auto& r : runs) {
    const std::string runDir = dir + "/" + r.name;
    fs::create_directories(runDir);
    const testing::ProcessResult run = testing::runCommand(
        binary + " --no-window " + r.options + " ../calib.xml '../frame%d.png' 2 5", runDir);
    ASSERT_EQ(run.exitStatus, 0) << r.options << ": " << run.err;
    EXPECT_EQ(run.err.find("plenoview: "), std::string::npos) << r.options << ": " << run.err;
    if (referenceOut.empty()) {
      referenceOut = run.out;
    } else {
      EXPECT_EQ(run.out, referenceOut) << r.options;
    }
  }
  size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(dir + "/whole/Result")) {
    const std::string name = entry.path().filename().string();
    for (const char* other : {"one", "two"}) {
      EXPECT_EQ(fileBytes(entry.path()), fileBytes(dir + "/" + other + "/Result/" + name))
          << name << " in " << other;
    }
    ++compared;
  }
  EXPECT_EQ(compared, 2u * 5 * 5);
}

}  // namespace
}  // namespace plenoview
