#include "driver/command_line.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace plenoview {
namespace {

CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "plenoview");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(ParseCommandLine, KeepsThePositionalTextsAndConvertsTheNumbers) {
  const CommandLine line = parse({"calib.xml", "f%03d.png", " 12 ", "+5"});
  EXPECT_EQ(line.calibPath, "calib.xml");
  EXPECT_EQ(line.imagePattern, "f%03d.png");
  EXPECT_EQ(line.imageNumText, " 12 ");
  EXPECT_EQ(line.viewNumText, "+5");
  EXPECT_EQ(line.imageNum, 12);
  EXPECT_EQ(line.viewNum, 5);
  EXPECT_TRUE(line.showWindows);
}

TEST(ParseCommandLine, OptionsMayStandAnywhere) {
  EXPECT_FALSE(parse({"--no-window", "c.xml", "f.png", "1", "1"}).showWindows);
  EXPECT_FALSE(parse({"c.xml", "f.png", "1", "1", "--no-window"}).showWindows);
  const CommandLine line = parse({"c.xml", "--no-window", "f.png", "-3", "1"});
  EXPECT_EQ(line.imagePattern, "f.png");
  EXPECT_EQ(line.imageNum, -3);  // no frame is processed, which is not an error
  // After "--" an argument that looks like an option is a path.
  EXPECT_EQ(parse({"--", "--odd.xml", "f.png", "1", "1"}).calibPath, "--odd.xml");
}

TEST(ParseCommandLine, HelpAndVersionNeedNoPositionals) {
  EXPECT_TRUE(parse({"--help"}).showHelp);
  EXPECT_TRUE(parse({"--version"}).showVersion);
}

// Also the options for measurements: --all-scale-levels (every scale level
// built whole, the reference way) and --threads N. That neither changes a
// byte of the output is tested on the pipeline, in ScaleLevelsOnDemand.
TEST(ParseCommandLine, DefaultsRangeResumeOutputAndMeasurementOptions) {
  const CommandLine plain = parse({"c.xml", "f.png", "8", "3"});
  EXPECT_EQ(plain.firstFrame, 0);
  EXPECT_EQ(plain.outputDir, ".");
  EXPECT_FALSE(plain.resume);
  EXPECT_TRUE(plain.warmUp);
  EXPECT_FALSE(plain.allScaleLevels);
  EXPECT_EQ(plain.threads, 0);
  EXPECT_EQ(plain.outputFormat, "png");
  EXPECT_EQ(plain.fps, 30);
  EXPECT_EQ(plain.sizeText, "");
  EXPECT_EQ(plain.pixelFormat, "");

  const CommandLine line =
      parse({"--first-frame", "5", "c.xml", "--resume", "--threads", "2", "f.png", "8", "3",
             "--output-dir", "out dir", "--no-warm-up", "--all-scale-levels"});
  EXPECT_EQ(line.firstFrame, 5);
  EXPECT_TRUE(line.allScaleLevels);
  EXPECT_EQ(line.threads, 2);
  EXPECT_EQ(line.imageNum, 8);  // still the end of the range
  EXPECT_EQ(line.outputDir, "out dir");
  EXPECT_TRUE(line.resume);
  EXPECT_FALSE(line.warmUp);
  EXPECT_EQ(line.calibPath, "c.xml");
  EXPECT_EQ(line.viewNum, 3);

  const CommandLine joined =
      parse({"--first-frame=+12", "--output-dir=/x=y", "--threads=3", "c.xml", "f.png", "8", "3"});
  EXPECT_EQ(joined.firstFrame, 12);
  EXPECT_EQ(joined.threads, 3);
  EXPECT_EQ(joined.outputDir, "/x=y");  // only the first '=' separates
  // The value of an option is taken as it stands, even when it looks like one.
  EXPECT_EQ(parse({"--output-dir", "--resume", "c.xml", "f.png", "8", "3"}).outputDir, "--resume");
  // A first frame at or past ImageNum is an empty range, like ImageNum 0.
  EXPECT_EQ(parse({"--first-frame", "9", "c.xml", "f.png", "8", "3"}).firstFrame, 9);

  EXPECT_EQ(plain.pngLevel, 1);
  EXPECT_EQ(parse({"--png-level", "3", "c.xml", "f.png", "8", "3"}).pngLevel, 3);
  EXPECT_EQ(parse({"c.xml", "f.png", "8", "3", "--png-level=2"}).pngLevel, 2);
}

TEST(ParseCommandLine, RefusesBadCommandLinesWithAUsageError) {
  const std::string notAllowed =
      "' is not allowed (use one of d, i, o, u, x, X for the frame index, %% for a literal %)";
  const struct {
    std::vector<const char*> args;
    std::string message;  // the whole message
  } cases[] = {
      {{}, "expected 4 arguments (CalibPath ImagePath ImageNum ViewNum), got 0"},
      {{"c.xml", "f.png", "1"},
       "expected 4 arguments (CalibPath ImagePath ImageNum ViewNum), got 3"},
      {{"c.xml", "f.png", "1", "1", "x"},
       "expected 4 arguments (CalibPath ImagePath ImageNum ViewNum), got 5"},
      {{"--fast", "c.xml", "f.png", "1", "1"}, "unknown option \"--fast\""},
      {{"c.xml", "f.png", "ten", "1"}, "ImageNum must be a whole decimal number, not \"ten\""},
      {{"c.xml", "f.png", "5x", "1"}, "ImageNum must be a whole decimal number, not \"5x\""},
      {{"c.xml", "f.png", "", "1"}, "ImageNum must be a whole decimal number, not \"\""},
      {{"c.xml", "f.png", "1", "2.5"}, "ViewNum must be a whole decimal number, not \"2.5\""},
      {{"c.xml", "f.png", "1", "- 3"}, "ViewNum must be a whole decimal number, not \"- 3\""},
      {{"c.xml", "f.png", "99999999999", "1"}, "ImageNum \"99999999999\" is out of range"},
      // 2^31: one past int, though its negative would fit.
      {{"c.xml", "f.png", "1", "2147483648"}, "ViewNum \"2147483648\" is out of range"},
      {{"c.xml", "f.png", "1", "0"}, "ViewNum must be at least 1, not \"0\""},
      {{"c.xml", "f.png", "1", "-2"}, "ViewNum must be at least 1, not \"-2\""},
      {{"c.xml", "f.png", "1", "100"}, "ViewNum must be at most 99, not \"100\""},
      {{"c.xml", "f%s.png", "1", "1"}, "ImagePath \"f%s.png\": conversion '%s" + notAllowed},
      {{"c.xml", "f%n.png", "1", "1"}, "ImagePath \"f%n.png\": conversion '%n" + notAllowed},
      {{"c.xml", "f%ld.png", "1", "1"}, "ImagePath \"f%ld.png\": conversion '%l" + notAllowed},
      {{"c.xml", "f%*d.png", "1", "1"}, "ImagePath \"f%*d.png\": conversion '%*" + notAllowed},
      {{"c.xml", "f%d_%d.png", "1", "1"},
       "ImagePath \"f%d_%d.png\": has more than one conversion; the frame index is the only value"},
      {{"c.xml", "f%", "1", "1"}, "ImagePath \"f%\": ends in an incomplete % conversion"},
      {{"c.xml", "f%999d.png", "1", "1"},
       "ImagePath \"f%999d.png\": field width or precision above 255"},
      {{"c.xml", "f.png", "8", "3", "--first-frame"}, "option --first-frame needs a value"},
      {{"c.xml", "f.png", "8", "3", "--output-dir"}, "option --output-dir needs a value"},
      {{"--first-frame", "-1", "c.xml", "f.png", "8", "3"},
       "--first-frame must be at least 0, not \"-1\""},
      {{"--first-frame", "2k", "c.xml", "f.png", "8", "3"},
       "--first-frame must be a whole decimal number, not \"2k\""},
      {{"--first-frame=", "c.xml", "f.png", "8", "3"},
       "--first-frame must be a whole decimal number, not \"\""},
      {{"--output-dir=", "c.xml", "f.png", "8", "3"}, "--output-dir must name a folder"},
      {{"--resume=yes", "c.xml", "f.png", "8", "3"}, "unknown option \"--resume=yes\""},
      {{"--first", "1", "c.xml", "f.png", "8", "3"}, "unknown option \"--first\""},
      {{"--size=", "c.xml", "v.yuv", "8", "3"}, "--size must give a size WIDTHxHEIGHT"},
      {{"--pixel-format", "yuv420p10be", "c.xml", "v.yuv", "8", "3"},
       "--pixel-format must be yuv420p or yuv420p10le, not \"yuv420p10be\""},
      {{"--output-format=PNG", "c.xml", "f.png", "8", "3"},
       "--output-format must be png, yuv or y4m, not \"PNG\""},
      {{"--fps", "0", "c.xml", "f.png", "8", "3"}, "--fps must be at least 1, not \"0\""},
      {{"--fps", "29.97", "c.xml", "f.png", "8", "3"},
       "--fps must be a whole decimal number, not \"29.97\""},
      {{"--png-level", "0", "c.xml", "f.png", "8", "3"},
       "--png-level must be 1, 2 or 3, not \"0\""},
      {{"--png-level=4", "c.xml", "f.png", "8", "3"}, "--png-level must be 1, 2 or 3, not \"4\""},
      {{"--png-level", "fast", "c.xml", "f.png", "8", "3"},
       "--png-level must be a whole decimal number, not \"fast\""},
      {{"--size", "64x32", "c.xml", "f%03d.png", "8", "3"},
       "--size applies to a video ImagePath (.yuv, .y4m or -), not to \"f%03d.png\""},
      {{"--pixel-format", "yuv420p", "c.xml", "f%03d.yuv", "8", "3"},
       "--pixel-format applies to a video ImagePath (.yuv, .y4m or -), not to \"f%03d.yuv\""},
      // The measurement options.
      {{"c.xml", "f.png", "1", "3", "--threads"}, "option --threads needs a value"},
      {{"--threads", "0", "c.xml", "f.png", "1", "3"}, "--threads must be at least 1, not \"0\""},
      {{"--threads", "two", "c.xml", "f.png", "1", "3"},
       "--threads must be a whole decimal number, not \"two\""},
  };
  for (const auto& bad : cases) {
    try {
      parse(bad.args);
      ADD_FAILURE() << bad.message << ": accepted";
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()), bad.message);
      EXPECT_EQ(e.exitStatus, kExitUsage);
    }
  }
}

TEST(ParseCommandLine, VideoOptions) {
  const CommandLine line = parse({"--size", "64x32", "--pixel-format=yuv420p10le", "c.xml", "-",
                                  "8", "3", "--output-format", "y4m", "--fps=25"});
  EXPECT_EQ(line.imagePattern, "-");
  EXPECT_EQ(line.sizeText, "64x32");
  EXPECT_EQ(line.pixelFormat, "yuv420p10le");
  EXPECT_EQ(line.outputFormat, "y4m");
  EXPECT_EQ(line.fps, 25);
  // The size text is the video's to judge: it may come from the name instead.
  EXPECT_EQ(parse({"--size", "odd", "c.xml", "v.y4m", "8", "3"}).sizeText, "odd");
}

TEST(Usage, TheReadmeShowsTheUsageTextAsItStands) {
  std::ifstream file(std::string(PLENOVIEW_SOURCE_DIR) + "/README.md");
  const std::string readme((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
  EXPECT_NE(readme.find(std::string("```\n") + kUsage + "```\n"), std::string::npos)
      << "README.md's usage block differs from kUsage";
}

TEST(FramePath, FormatsIntConversionsWithFlagsWidthAndPrecision) {
  EXPECT_EQ(formatPath("f%03d.png", 7), "f007.png");
  EXPECT_EQ(formatPath("f%03d.png", 12345), "f12345.png");
  EXPECT_EQ(formatPath("100%%/f%-4i|", 3), "100%/f3   |");
  EXPECT_EQ(formatPath("f%#x", 255), "f0xff");
  EXPECT_EQ(formatPath("f%.3u", 7), "f007");
  EXPECT_EQ(formatPath("same.png", 9), "same.png");
  EXPECT_EQ(formatPath("%+05d", 42), "+0042");
  // Paths of any length.
  const std::string folder(300, 'a');
  EXPECT_EQ(formatPath(folder + "/f%04d.png", 3), folder + "/f0003.png");
}

}  // namespace
}  // namespace plenoview
