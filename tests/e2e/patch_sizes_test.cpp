#include "tests/e2e/e2e_support.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::filesIn;
using ::testing::HasSubstr;
using testing::runPlenoview;

// Four frames of the generated sequence, 3 x 3 views.
class PatchSizeFilesRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTestDir();
    testing::writeSequence(dir, 0, 4);
  }

  testing::ProcessResult run(std::vector<std::string> options) {
    options.insert(options.end(), {"--no-window", "calib.xml", "f%03d.png", "4", "3"});
    return runPlenoview(options, dir);
  }

  std::string dir;
};

TEST_F(PatchSizeFilesRun, SavedSizesLoadedGiveTheSameViewsInEveryFormatChunkedOrNot) {
  for (const std::string format : {"png", "yuv", "y4m"}) {
    SCOPED_TRACE(format);
    const testing::ProcessResult saved =
        run({"--output-format", format, "--output-dir", "saved-" + format, "--save-patch-sizes",
             "sizes-" + format});
    ASSERT_EQ(saved.exitStatus, 0) << saved.err;
    // Per frame and lens type one 8-bit grey file, a pixel per lens.
    ASSERT_EQ(filesIn(dir + "/sizes-" + format).size(), 12u);
    const cv::Mat sizes =
        cv::imread(dir + "/sizes-" + format + "/PatchSizes_f0003_t2.png", cv::IMREAD_UNCHANGED);
    EXPECT_EQ(sizes.type(), CV_8UC1);

    // Loaded in two chunks into one folder: the same view files, nothing else.
    const std::string loadedDir = "loaded-" + format;
    for (const std::string first : {"0", "2"}) {
      const std::string end = first == "0" ? "2" : "4";
      const testing::ProcessResult loaded = runPlenoview(
          {"--no-window", "--output-format", format, "--output-dir", loadedDir, "--first-frame",
           first, "--load-patch-sizes", "sizes-" + format, "calib.xml", "f%03d.png", end, "3"},
          dir);
      ASSERT_EQ(loaded.exitStatus, 0) << loaded.err;
    }
    EXPECT_THAT(testing::differingFiles(filesIn(dir + "/" + loadedDir + "/Result"),
                                        filesIn(dir + "/saved-" + format + "/Result")),
                ::testing::IsEmpty());
  }
}

TEST_F(PatchSizeFilesRun, AFileThatCannotServeIsRefusedBeforeItsFrame) {
  ASSERT_EQ(run({"--save-patch-sizes", "sizes"}).exitStatus, 0);
  const std::string file = "sizes/PatchSizes_f0002_t1.png";
  struct Case {
    const char* name;
    void (*spoil)(const std::string& path);
    const char* message;
  };
  const Case cases[] = {
      {"missing", [](const std::string& path) { fs::remove(path); }, "\": no such file (frame 2)"},
      {"not an image",
       [](const std::string& path) { testing::writeTextFile(path, "not a picture"); },
       "\": cannot be read as an image"},
      {"not the grid's size",
       [](const std::string& path) { cv::imwrite(path, cv::Mat(1, 1, CV_8UC1, cv::Scalar(5))); },
       "\" holds 1 x 1 pixels of 1 channel(s), 8-bit; the lens grid needs 8-bit grey"},
      {"colour",
       [](const std::string& path) { cv::imwrite(path, cv::Mat(1, 1, CV_8UC3, cv::Scalar(5))); },
       "\" holds 1 x 1 pixels of 3 channel(s), 8-bit"},
  };
  const std::string good = testing::readFile(dir + "/" + file);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.spoil(dir + "/" + file);
    const std::string out = std::string("out-") + c.name;
    const testing::ProcessResult loaded = run({"--load-patch-sizes", "sizes", "--output-dir", out});
    EXPECT_EQ(loaded.exitStatus, 1);
    EXPECT_THAT(loaded.err, HasSubstr("plenoview: patch sizes \"sizes/PatchSizes_f0002_t1.png" +
                                      std::string(c.message)));
    // Frames 0 and 1 are written, nothing of frame 2 or after.
    EXPECT_EQ(filesIn(dir + "/" + out + "/Result").size(), 18u);
    EXPECT_FALSE(fs::exists(dir + "/" + out + "/Result/Result_f0002_c0000.png"));
    testing::writeTextFile(dir + "/" + file, good);
  }
}

}  // namespace
}  // namespace plenoview
