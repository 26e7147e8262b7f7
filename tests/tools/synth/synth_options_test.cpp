// The generator's command line, parsed in-process; the real binary's help,
// exit statuses and one-line errors are tested in tests/e2e.

#include "tools/synth/synth_options.h"

#include "base/plenoview_error.h"

#include <gtest/gtest.h>

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

TEST(SynthOptions, LastColourFlagWins) {
  EXPECT_TRUE(parse({"--grey", "--colour"}).colour);
  EXPECT_FALSE(parse({"--colour", "--grey"}).colour);
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
      {{"--scene", "grey"}, "--scene must be textured or white, not \"grey\""},
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
      {{"--format", "mp4"}, "--format must be png, yuv or y4m, not \"mp4\""},
      {{"--format", "y4m", "--width", "61"},
       "--format y4m needs an even --width and --height, not 61 x 480"},
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

}  // namespace
}  // namespace plenoview::synth
