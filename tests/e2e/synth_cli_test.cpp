// The real plenoview-synth: help, exit statuses and one-line errors, the files
// it writes, and the bundled sample, which must be what it makes today from
// the command in scripts/make-sample.

#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"
#include "tools/synth/synth_options.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace plenoview {
namespace {

class SynthCli : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing::makeTestDir(); }
  testing::ProcessResult synth(const std::vector<std::string>& args) {
    return testing::runSynth(args, dir);
  }
  std::string dir;
};

TEST_F(SynthCli, HelpPrintsTheUsage) {
  const testing::ProcessResult r = synth({"--help"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, synth::kSynthUsage);
  EXPECT_EQ(r.err, "");
}

TEST_F(SynthCli, BadOptionsEndWithOneLineAndStatus2) {
  const testing::ProcessResult r = synth({"--frames", "2", "--look", "round"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "plenoview-synth: --look must be disc or hex, not \"round\"\n");

  const testing::ProcessResult offsets = synth({"--offsets", "0,0,1,0,1,0"});
  EXPECT_EQ(offsets.exitStatus, 2);
  EXPECT_EQ(offsets.err,
            "plenoview-synth: --offsets: lens type 2 falls on the same lenses as an earlier type "
            "(the three x + y must differ modulo 3)\n");
}

TEST_F(SynthCli, UnwritableOutputEndsWithStatus1) {
  testing::writeTextFile(dir + "/taken", "a file, not a folder");
  const testing::ProcessResult r =
      synth({"--width", "60", "--height", "50", "--diameter", "8", "--out", "taken"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "plenoview-synth: cannot create the folder \"taken\": Not a directory\n");
}

// 60 x 50 frame, d = 8: centre (30, 25), 7 rows, 2 lenses per type and row;
// the right type's first even-row lens is type 0's at (18, 4.2154), the last
// at x 42 and y 4.2154 + 6 x 6.9282. With g = 3/8 and N = 1 the view is
// floor(0.375 x 24 + 18 + 8) = 35 wide, floor(0.375 x 41.5692 + 4.2154 + 8) = 27 high.
TEST_F(SynthCli, WritesTheFiles) {
  const testing::ProcessResult r =
      synth({"--width", "60", "--height", "50", "--diameter", "8", "--frames", "2", "--views", "1",
             "--out", "run", "--preview", "run/crop.png"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "calibration: run/calib.xml\nframe: run/frame000.png\npreview: run/crop.png\nframe: "
            "run/frame001.png\n"
            "ground truth: run/truth (view size 35 x 27 for 1 x 1 views)\n");
  for (const char* file :
       {"calib.xml", "frame000.png", "frame001.png", "crop.png", "truth/texture_f0001.png",
        "truth/patch_size_f0001_t2.png", "truth/scene.txt"}) {
    EXPECT_TRUE(std::filesystem::exists(dir + "/run/" + file)) << file;
  }
}

// --format yuv and y4m hold, frame by frame, the I420 planes of the PNG
// frames the same options give: cvtColor(BGR2YUV_I420) of a colour frame, the
// frame and chroma 128 of a grey one.
TEST_F(SynthCli, WritesTheFramesAsOneVideo) {
  for (const char* colour : {"--colour", "--grey"}) {
    SCOPED_TRACE(colour);
    const auto run = [&](const std::string& out, const std::string& format) {
      return synth({colour, "--width", "60", "--height", "50", "--diameter", "8", "--frames", "2",
                    "--views", "1", "--out", out, "--format", format});
    };
    ASSERT_EQ(run("png", "png").exitStatus, 0);
    std::string planes[2];
    for (int f = 0; f < 2; ++f) {
      const cv::Mat frame =
          cv::imread(dir + "/png/frame00" + std::to_string(f) + ".png", cv::IMREAD_UNCHANGED);
      cv::Mat yuv;
      if (frame.channels() == 3) {
        cv::cvtColor(frame, yuv, cv::COLOR_BGR2YUV_I420);
      } else {
        yuv = cv::Mat(75, 60, CV_8UC1, cv::Scalar(128));
        frame.copyTo(yuv.rowRange(0, 50));
      }
      planes[f] = std::string(reinterpret_cast<const char*>(yuv.data), yuv.total());
    }
    for (const std::string format : {"yuv", "y4m"}) {
      const testing::ProcessResult r = run(format, format);
      ASSERT_EQ(r.exitStatus, 0) << r.err;
      const std::string name = format + "/synth_60x50_2frames_8bit_yuv420." + format;
      EXPECT_NE(r.out.find("\nvideo: " + name + "\n"), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("frame: "), std::string::npos) << r.out;
      const std::string bytes = testing::readFile(dir + "/" + name);
      EXPECT_TRUE(bytes == (format == "yuv" ? planes[0] + planes[1]
                                            : "YUV4MPEG2 W60 H50 F30:1 Ip A1:1 C420jpeg\nFRAME\n" +
                                                  planes[0] + "FRAME\n" + planes[1]));
      EXPECT_FALSE(std::filesystem::exists(dir + "/" + format + "/frame000.png"));
    }
  }
}

// The generator's command line in scripts/make-sample, continuation lines
// joined.
std::string sampleCommand() {
  const std::string script =
      testing::readFile(std::string(PLENOVIEW_SOURCE_DIR) + "/scripts/make-sample");
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

// A change to the generator that is not followed by a new sample fails here.
// Pixels are compared, not PNG bytes, so that another zlib cannot fail it.
TEST(SampleData, IsWhatTheGeneratorMakesFromMakeSample) {
  const std::string sample = std::string(PLENOVIEW_SOURCE_DIR) + "/data/sample";
  const std::string arguments = sampleCommand();
  ASSERT_NE(arguments, "") << "no plenoview-synth command in scripts/make-sample";
  const std::string dir = testing::makeTestDir();
  // Only frame 0, into the test's folder: later options win. The script's
  // words are split by a shell, with $sample set as in the script.
  testing::ProcessOptions options;
  options.workDir = dir;
  options.environment = {"sample=" + sample};
  const testing::ProcessResult r =
      testing::runShell(testing::shellQuote(PLENOVIEW_SYNTH_BINARY) + " " + arguments +
                            " --frames 1 --out out --preview out/readme-crop.png",
                        options);
  ASSERT_EQ(r.exitStatus, 0) << r.err;

  EXPECT_EQ(testing::readFile(dir + "/out/calib.xml"), testing::readFile(sample + "/calib.xml"));
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
