// The generator's command line: parsing in-process, and the real binary's
// help, exit statuses and one-line errors.

#include "tools/synth/synth_options.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace plenoview::synth {
namespace {

SynthOptions parse(std::vector<const char*> args) {
  args.insert(args.begin(), "plenoview-synth");
  return parseSynthOptions(static_cast<int>(args.size()), args.data());
}

TEST(SynthOptions, ReadsEveryOption) {
  const SynthOptions o = parse({"--width",      "320",        "--height=200",    "--diameter",
                                "12.5",         "--rotation", "-0.02",           "--center",
                                "1.5,-2",       "--offsets",  "2,0,0,0,0.5,0.5", "--look",
                                "hex",          "--scene",    "white",           "--grey",
                                "--depth",      "ramp",       "--patch-sizes",   "4,8",
                                "--motion",     "3,-1",       "--blur",          "0",
                                "--vignetting", "0.5",        "--noise",         "1e-1",
                                "--seed",       "4294967295", "--frames",        "4",
                                "--views",      "7",          "--out",           "o",
                                "--pattern",    "f%02d.png",  "--preview",       "p.png"});
  EXPECT_EQ(o.width, 320);
  EXPECT_EQ(o.height, 200);
  EXPECT_EQ(o.diameter, 12.5);
  EXPECT_EQ(o.rotation, -0.02);
  EXPECT_EQ(o.centerOffset, cv::Point2d(1.5, -2));
  EXPECT_EQ(o.typeOffset[0], cv::Point2f(2, 0));
  EXPECT_EQ(o.typeOffset[1], cv::Point2f(0, 0));
  EXPECT_EQ(o.typeOffset[2], cv::Point2f(0.5f, 0.5f));
  EXPECT_EQ(o.look, MicroImageLook::kHex);
  EXPECT_EQ(o.scene, SceneKind::kWhite);
  EXPECT_FALSE(o.colour);
  EXPECT_EQ(o.depth, DepthLayout::kRamp);
  EXPECT_EQ(o.smallestPatch, 4);
  EXPECT_EQ(o.largestPatch, 8);
  EXPECT_EQ(o.motion, cv::Point(3, -1));
  EXPECT_EQ(o.blur, 0.0);
  EXPECT_EQ(o.vignetting, 0.5);
  EXPECT_EQ(o.noise, 0.1);
  EXPECT_EQ(o.seed, 4294967295u);
  EXPECT_EQ(o.frames, 4);
  EXPECT_EQ(o.views, 7);
  EXPECT_EQ(o.outputDir, "o");
  EXPECT_EQ(o.pattern, "f%02d.png");
  EXPECT_EQ(o.previewPath, "p.png");
  EXPECT_FALSE(o.showHelp);
}

TEST(SynthOptions, DefaultsAndLastColourFlagWins) {
  const SynthOptions o = parse({"--grey", "--colour"});
  EXPECT_TRUE(o.colour);
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 480);
  EXPECT_EQ(o.diameter, 17.0);
  EXPECT_EQ(o.views, 5);
  EXPECT_EQ(o.frames, 1);
  EXPECT_EQ(o.smallestPatch, 0);  // the candidate range
  EXPECT_EQ(o.pattern, "frame%03d.png");
  EXPECT_TRUE(parse({"--help"}).showHelp);
}

struct BadOption {
  std::vector<const char*> args;
  const char* message;
};

TEST(SynthOptions, RefusesBadOptionsNamingThem) {
  const BadOption cases[] = {
      {{"--size", "3"}, "unknown option \"--size\""},
      {{"frame.png"}, "unexpected argument \"frame.png\""},
      {{"--width"}, "--width needs a value"},
      {{"--width", "0"}, "--width must be at least 1, not \"0\""},
      {{"--width", "64px"}, "--width must be a whole decimal number, not \"64px\""},
      {{"--diameter", "5.9"}, "--diameter must lie in [6, 258), not \"5.9\""},
      {{"--diameter", "17,5"}, "--diameter: \"17,5\" is not a number"},
      {{"--rotation", "nan"}, "--rotation: \"nan\" is not a number"},
      {{"--center", "1"}, "--center: expected 2 comma-separated numbers, not \"1\""},
      {{"--offsets", "0,0,1,0,2"}, "--offsets: expected 6 comma-separated numbers"},
      {{"--look", "square"}, "--look must be disc or hex, not \"square\""},
      {{"--depth", "steps"}, "--depth must be regions, ramp or constant, not \"steps\""},
      {{"--patch-sizes", "8,4"}, "--patch-sizes: \"8,4\" is not a range A,B with 1 <= A <= B"},
      {{"--motion", "1.5,0"}, "--motion must be a whole decimal number, not \"1.5\""},
      {{"--vignetting", "1.5"}, "--vignetting must lie in 0 .. 1, not \"1.5\""},
      {{"--noise", "-1"}, "--noise must lie in 0 .. 100, not \"-1\""},
      {{"--seed", "-1"}, "--seed must be a whole number in 0 .. 4294967295, not \"-1\""},
      {{"--seed", "2.5"}, "--seed must be a whole number"},
      {{"--views", "0"}, "--views must be at least 1, not \"0\""},
      {{"--pattern", "frame%s.png"}, "--pattern \"frame%s.png\": conversion '%s' is not allowed"},
      {{"--grey=yes"}, "--grey takes no value"},
      {{"--width", "20000", "--height", "20000"}, "is more than 100 megapixels"},
  };
  for (const BadOption& c : cases) {
    try {
      parse(c.args);
      ADD_FAILURE() << "accepted " << c.args[0];
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      EXPECT_EQ(e.exitStatus, 2);
    }
  }
}

// The real binary: help on stdout, one error line on stderr with the status.
class SynthCli : public ::testing::Test {
 protected:
  void SetUp() override { dir = plenoview::testing::makeTestDir(); }
  plenoview::testing::ProcessResult synth(const std::string& args) {
    return plenoview::testing::runCommand(
        plenoview::testing::shellQuote(PLENOVIEW_SYNTH_BINARY) + " " + args, dir);
  }
  std::string dir;
};

TEST_F(SynthCli, HelpPrintsTheUsage) {
  const plenoview::testing::ProcessResult r = synth("--help");
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, kSynthUsage);
  EXPECT_EQ(r.err, "");
}

TEST_F(SynthCli, BadOptionsEndWithOneLineAndStatus2) {
  const plenoview::testing::ProcessResult r = synth("--frames 2 --look round");
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "plenoview-synth: --look must be disc or hex, not \"round\"\n");

  const plenoview::testing::ProcessResult offsets = synth("--offsets 0,0,1,0,1,0");
  EXPECT_EQ(offsets.exitStatus, 2);
  EXPECT_EQ(offsets.err,
            "plenoview-synth: --offsets: lens type 2 falls on the same lenses as an earlier type "
            "(the three x + y "
            "must differ modulo 3)\n");
}

TEST_F(SynthCli, UnwritableOutputEndsWithStatus1) {
  plenoview::testing::writeTextFile(dir + "/taken", "a file, not a folder");
  const plenoview::testing::ProcessResult r =
      synth("--width 60 --height 50 --diameter 8 --out taken");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "plenoview-synth: cannot create the folder \"taken\": Not a directory\n");
}

// 60 x 50 frame, d = 8: centre (30, 25), 7 rows, 2 lenses per type and row;
// the right type's first even-row lens is type 0's at (18, 4.2154), the last
// at x 42 and y 4.2154 + 6 x 6.9282. With g = 3/8 and N = 1 the view is
// floor(0.375 x 24 + 18 + 8) = 35 wide, floor(0.375 x 41.5692 + 4.2154 + 8) = 27 high.
TEST_F(SynthCli, WritesTheFiles) {
  const plenoview::testing::ProcessResult r = synth(
      "--width 60 --height 50 --diameter 8 --frames 2 --views 1 --out run --preview run/crop.png");
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

}  // namespace
}  // namespace plenoview::synth
