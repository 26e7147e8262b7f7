#include "tools/compare/compare_report.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"
#include "tools/compare/compare_command.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview::compare {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

PlaneScores row(const char* name, double y, double u, double v, double yuv) {
  return {name, {0, 0, 0}, {y, u, v}, yuv};
}

// Two views; the second has a plane that is equal (infinite PSNR).
Comparison folders() {
  Comparison c;
  c.frames = 3;
  c.views = {row("c0000", 48.1308036086791, 45.12, 36.5, 46.25),
             row("c0001", 42.11, 100.125, kInf, kInf)};
  c.total = row("mean", 45.12, 72.6225, kInf, kInf);
  return c;
}

std::string text(void (*write)(std::ostream&, const Comparison&), const Comparison& c) {
  std::ostringstream out;
  write(out, c);
  return out.str();
}

TEST(CompareReport, TableAlignsFourDecimalsUnderTheirHeadings) {
  EXPECT_EQ(text(printTable, folders()),
            "view     Y-PSNR    U-PSNR    V-PSNR  YUV-PSNR\n"
            "c0000   48.1308   45.1200   36.5000   46.2500\n"
            "c0001   42.1100  100.1250       inf       inf\n"
            "mean    45.1200   72.6225       inf       inf\n");
  Comparison lenslet;
  lenslet.lenslet = true;
  lenslet.chroma = false;
  lenslet.total = row("lenslet", 1234.5, kNaN, kNaN, kNaN);
  // A wider number widens every column alike.
  EXPECT_EQ(text(printTable, lenslet),
            "view        Y-PSNR     U-PSNR     V-PSNR   YUV-PSNR\n"
            "lenslet  1234.5000          -          -          -\n");
}

TEST(CompareReport, JsonAndCsvCarryEveryDigitInfinityAndUnmeasuredPlanes) {
  EXPECT_EQ(text(writeJson, folders()),
            "{\n"
            "  \"mvpsnr_y\": 45.12,\n"
            "  \"mvpsnr_u\": 72.6225,\n"
            "  \"mvpsnr_v\": Infinity,\n"
            "  \"mvpsnr_yuv\": Infinity,\n"
            "  \"frames\": 3,\n"
            "  \"views\": [\n"
            "    {\"view\": \"c0000\", \"psnr_y\": 48.1308036086791, \"psnr_u\": 45.12, "
            "\"psnr_v\": 36.5, \"psnr_yuv\": 46.25},\n"
            "    {\"view\": \"c0001\", \"psnr_y\": 42.11, \"psnr_u\": 100.125, "
            "\"psnr_v\": Infinity, \"psnr_yuv\": Infinity}\n"
            "  ]\n"
            "}\n");
  EXPECT_EQ(text(writeCsv, folders()),
            "view,psnr_y,psnr_u,psnr_v,psnr_yuv\n"
            "c0000,48.1308036086791,45.12,36.5,46.25\n"
            "c0001,42.11,100.125,inf,inf\n");

  Comparison lenslet;
  lenslet.lenslet = true;
  lenslet.frames = 300;
  lenslet.total = row("lenslet", 60.25, kNaN, kNaN, kNaN);
  EXPECT_EQ(text(writeJson, lenslet),
            "{\n"
            "  \"llpsnr_y\": 60.25,\n"
            "  \"llpsnr_u\": null,\n"
            "  \"llpsnr_v\": null,\n"
            "  \"llpsnr_yuv\": null,\n"
            "  \"frames\": 300\n"
            "}\n");
  EXPECT_EQ(text(writeCsv, lenslet), "view,psnr_y,psnr_u,psnr_v,psnr_yuv\nlenslet,60.25,,,\n");
}

struct Parse {
  std::vector<const char*> args;  // after the program name
  std::string refused;            // the usage error, or "" when accepted
};

TEST(CompareOptions, ParsesSidesAnywhereAndRefusesWhatIsMalformed) {
  const Parse cases[] = {
      {{"a", "--json", "j.json", "b", "--csv=c.csv", "--size", "4x2", "--pixel-format=yuv420p10le"},
       ""},
      {{"--help"}, ""},
      {{}, "expected 2 arguments (REF TEST), got 0"},
      {{"a", "b", "c"}, "expected 2 arguments (REF TEST), got 3"},
      {{"a", "b", "--fast"}, "unknown option \"--fast\""},
      {{"a", "b", "--json"}, "--json needs a value"},
      {{"a", "b", "--csv="}, "--csv needs a value, not \"\""},
      {{"a", "b", "--pixel-format", "yuv422p"},
       "--pixel-format must be yuv420p or yuv420p10le, not \"yuv422p\""},
  };
  for (const Parse& c : cases) {
    std::vector<const char*> argv = {"plenoview-compare"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const std::string refused =
        testing::refusal([&] { parseCompareOptions(static_cast<int>(argv.size()), argv.data()); });
    EXPECT_EQ(refused, c.refused) << argv.size();
  }
  const char* argv[] = {
      "plenoview-compare",         "a", "--json", "j.json", "b", "--csv=c.csv", "--size", "4x2",
      "--pixel-format=yuv420p10le"};
  const CompareOptions options = parseCompareOptions(9, argv);
  EXPECT_EQ(options.ref, "a");
  EXPECT_EQ(options.test, "b");
  EXPECT_EQ(options.jsonPath, "j.json");
  EXPECT_EQ(options.csvPath, "c.csv");
  EXPECT_EQ(options.raw.sizeText, "4x2");
  EXPECT_EQ(options.raw.pixelFormat, "yuv420p10le");
  EXPECT_FALSE(options.showHelp);
}

}  // namespace
}  // namespace plenoview::compare
