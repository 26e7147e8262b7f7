#include "io/compare_sides.h"

#include "io/png_view_files.h"
#include "io/view_videos.h"
#include "tests/io/write_frame.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

constexpr double kInf = std::numeric_limits<double>::infinity();
// The expected figures are written with four decimals.
constexpr double kFourDecimals = 5e-5;

// Sample i of plane p (0 Y, 1 U, 2 V) of view v (x * n + y) in frame k.
using Samples = std::function<int(int p, int v, int k, int i)>;

// One 4 x 2 I420 frame: Y 8 samples, U 2, V 2; two bytes a sample (little-
// endian) when tenBit.
std::string frameBytes(const Samples& value, int v, int k, bool tenBit) {
  std::string bytes;
  const int counts[3] = {8, 2, 2};
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < counts[p]; ++i) {
      const int sample = value(p, v, k, i);
      bytes += static_cast<char>(sample & 0xff);
      if (tenBit) bytes += static_cast<char>(sample >> 8);
    }
  }
  return bytes;
}

// An n x n view folder of raw 4 x 2 views, as --output-format yuv names them.
void yuvFolder(const std::string& dir, int n, int frames, const Samples& value) {
  fs::create_directories(dir + "/Result");
  for (int x = 0; x < n; ++x) {
    for (int y = 0; y < n; ++y) {
      std::string bytes;
      for (int k = 0; k < frames; ++k) bytes += frameBytes(value, x * n + y, k, false);
      testing::writeTextFile(
          dir + "/Result/" + viewVideoFileName(x, y, ViewVideoFormat::kYuv, {4, 2}), bytes);
    }
  }
}

// A raw 4 x 2 lenslet video.
void lensletFile(const std::string& path, int frames, const Samples& value, bool tenBit) {
  std::string bytes;
  for (int k = 0; k < frames; ++k) bytes += frameBytes(value, 0, k, tenBit);
  testing::writeTextFile(path, bytes);
}

struct Case {
  const char* name;
  bool lenslet;  // a lenslet video each (else view folders of n x n views)
  bool tenBit;
  int n;
  int frames;
  Samples test;                            // REF is 100 everywhere (400 for 10-bit)
  std::vector<std::vector<double>> views;  // per view: PSNR Y, U, V, YUV
  std::vector<double> total;               // MV-PSNR (or lenslet PSNR) Y, U, V, YUV
};

// PSNRs, 10 log10(peak^2 / MSE): 48.1308 for MSE 1 at peak 255, 45.1205 for
// 2, 42.1102 for 4, 36.0896 for 16; 60.1975 for MSE 1 at peak 1023, 54.1769
// for 4.
TEST(CompareSides, GivesTheWorkflowsFiguresDerivedByHand) {
  const Case cases[] = {
      // Every Y sample one above: MSE 1; U and V equal; YUV-PSNR infinite.
      {"Y off by one",
       false,
       false,
       2,
       1,
       [](int p, int, int, int) { return p == 0 ? 101 : 100; },
       {{48.1308, kInf, kInf, kInf},
        {48.1308, kInf, kInf, kInf},
        {48.1308, kInf, kInf, kInf},
        {48.1308, kInf, kInf, kInf}},
       {48.1308, kInf, kInf, kInf}},
      // Y +1; U -2 in one of its two samples: MSE 2; V +4: MSE 16. YUV-PSNR
      // (6 x 48.1308036 + 45.1205037 + 36.0896038) / 8 = 46.2494.
      {"chroma below and above",
       false,
       false,
       1,
       1,
       [](int p, int, int, int i) { return p == 0   ? 101
                                           : p == 1 ? (i == 0 ? 98 : 100)
                                                    : 104; },
       {{48.1308, 45.1205, 36.0896, 46.2494}},
       {48.1308, 45.1205, 36.0896, 46.2494}},
      // Y equal in frame 0 and 2 off in frame 1: the MSEs 0 and 4 average to
      // 2 (the PSNRs, infinite and 42.1102, would not).
      {"frames average their MSEs",
       false,
       false,
       1,
       2,
       [](int p, int, int k, int) { return p == 0 && k == 1 ? 102 : 100; },
       {{45.1205, kInf, kInf, kInf}},
       {45.1205, kInf, kInf, kInf}},
      // Views with Y MSE 1, 4, 1, 4: MV-PSNR is the mean of their PSNRs,
      // (48.1308 + 42.1102) / 2 = 45.1205, not the PSNR of the mean MSE
      // 2.5 (44.1514).
      {"views average their PSNRs",
       false,
       false,
       2,
       1,
       [](int p, int v, int, int) { return p == 0 ? 101 + v % 2 : 100; },
       {{48.1308, kInf, kInf, kInf},
        {42.1102, kInf, kInf, kInf},
        {48.1308, kInf, kInf, kInf},
        {42.1102, kInf, kInf, kInf}},
       {45.1205, kInf, kInf, kInf}},
      // One view alike in every plane makes every mean infinite.
      {"one identical view",
       false,
       false,
       2,
       1,
       [](int, int v, int, int) { return v == 2 ? 100 : 99; },
       {{48.1308, 48.1308, 48.1308, 48.1308},
        {48.1308, 48.1308, 48.1308, 48.1308},
        {kInf, kInf, kInf, kInf},
        {48.1308, 48.1308, 48.1308, 48.1308}},
       {kInf, kInf, kInf, kInf}},
      {"identical folders",
       false,
       false,
       2,
       3,
       [](int, int, int, int) { return 100; },
       {{kInf, kInf, kInf, kInf},
        {kInf, kInf, kInf, kInf},
        {kInf, kInf, kInf, kInf},
        {kInf, kInf, kInf, kInf}},
       {kInf, kInf, kInf, kInf}},
      // The whole frame of two lenslet videos over two frames.
      {"lenslet",
       true,
       false,
       1,
       2,
       [](int p, int, int, int) { return p == 0   ? 101
                                         : p == 1 ? 100
                                                  : 96; },
       {},
       {48.1308, kInf, 36.0896, kInf}},
      // 10-bit samples: peak 1023. Y +1, U -2 (MSE 4), V +1: YUV-PSNR
      // (7 x 60.1975127 + 54.1769128) / 8 = 59.4449.
      {"lenslet 10-bit",
       true,
       true,
       1,
       2,
       [](int p, int, int, int) { return p == 0   ? 401
                                         : p == 1 ? 398
                                                  : 401; },
       {},
       {60.1975, 54.1769, 60.1975, 59.4449}},
  };
  const std::string dir = testing::makeTestDir();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string at = dir + "/" + std::to_string(&c - cases);
    const Samples ref = [&](int, int, int, int) { return c.tenBit ? 400 : 100; };
    std::string refPath = at + "-ref";
    std::string testPath = at + "-test";
    if (c.lenslet) {
      refPath += c.tenBit ? "_4x2_10bit.yuv" : "_4x2_.yuv";
      testPath += c.tenBit ? "_4x2_10bit.yuv" : "_4x2_.yuv";
      lensletFile(refPath, c.frames, ref, c.tenBit);
      lensletFile(testPath, c.frames, c.test, c.tenBit);
    } else {
      yuvFolder(refPath, c.n, c.frames, ref);
      yuvFolder(testPath, c.n, c.frames, c.test);
    }
    const Comparison result = compareSides(refPath, testPath);
    EXPECT_EQ(result.lenslet, c.lenslet);
    EXPECT_EQ(result.peak, c.tenBit ? 1023 : 255);
    EXPECT_EQ(result.frames, c.frames);
    const auto expectFigures = [](const PlaneScores& got, const std::vector<double>& want) {
      const double figures[4] = {got.psnr[0], got.psnr[1], got.psnr[2], got.psnrYuv};
      for (int i = 0; i < 4; ++i) {
        if (std::isinf(want[i])) {
          EXPECT_EQ(figures[i], kInf) << got.name << " column " << i;
        } else {
          EXPECT_NEAR(figures[i], want[i], kFourDecimals) << got.name << " column " << i;
        }
      }
    };
    ASSERT_EQ(result.views.size(), c.views.size());
    for (size_t v = 0; v < c.views.size(); ++v) expectFigures(result.views[v], c.views[v]);
    expectFigures(result.total, c.total);
  }
}

TEST(CompareSides, NamesViewsAndGivesTheMseBehindEachPsnr) {
  const std::string dir = testing::makeTestDir();
  yuvFolder(dir + "/a", 2, 1, [](int, int, int, int) { return 100; });
  yuvFolder(dir + "/b", 2, 1, [](int p, int v, int, int) { return p == 1 ? 100 + v : 100; });
  const Comparison result = compareSides(dir + "/a", dir + "/b/Result");
  ASSERT_EQ(result.views.size(), 4u);
  const char* names[] = {"c0000", "c0001", "c0100", "c0101"};
  for (int v = 0; v < 4; ++v) {
    EXPECT_EQ(result.views[v].name, names[v]);
    EXPECT_EQ(result.views[v].mse[0], 0);
    EXPECT_EQ(result.views[v].mse[1], v * v);
  }
  EXPECT_EQ(result.total.name, "mean");
  EXPECT_EQ(result.total.mse[1], (0 + 1 + 4 + 9) / 4.0);
}

// The views of one run, once as PNG files and once as yuv or y4m files,
// give the same figures whichever pairing is measured; a grey PNG view has
// Y only, so U and V go unmeasured.
TEST(CompareSides, PngAndVideoFoldersOfOneRunGiveTheSameFigures) {
  const std::string dir = testing::makeTestDir();
  for (const int type : {CV_8UC3, CV_8UC1}) {
    SCOPED_TRACE(type == CV_8UC3 ? "colour" : "grey");
    const std::string at = dir + "/" + std::to_string(type);
    for (const int run : {0, 1}) {
      PngViewFiles png(at + "/png" + std::to_string(run), 2);
      ViewVideoFiles yuv(at + "/yuv" + std::to_string(run), ViewVideoFormat::kYuv, 2, 30);
      ViewVideoFiles y4m(at + "/y4m" + std::to_string(run), ViewVideoFormat::kY4m, 2, 30);
      for (int k = 0; k < 2; ++k) {
        ViewGrid grid(2, std::vector<cv::Mat>(2));
        for (int x = 0; x < 2; ++x) {
          for (int y = 0; y < 2; ++y) {
            // 5 x 3 views, padded to 6 x 4 on the way to I420.
            grid[x][y].create(3, 5, type);
            cv::RNG(static_cast<uint64_t>(1000 * run + 100 * k + 10 * x + y + 1))
                .fill(grid[x][y], cv::RNG::UNIFORM, 0, 256);
          }
        }
        testing::writeFrame(png, grid, k);
        testing::writeFrame(yuv, grid, k);
        testing::writeFrame(y4m, grid, k);
      }
    }
    const Comparison byPng = compareSides(at + "/png0", at + "/png1");
    EXPECT_EQ(byPng.chroma, type == CV_8UC3);
    for (const char* pair : {"yuv0 yuv1", "png0 y4m1", "y4m0 png1", "yuv0 y4m1"}) {
      SCOPED_TRACE(pair);
      const std::string names(pair);
      const Comparison other =
          compareSides(at + "/" + names.substr(0, 4), at + "/" + names.substr(5));
      ASSERT_EQ(other.views.size(), 4u);
      for (int v = 0; v < 4; ++v) {
        EXPECT_EQ(other.views[v].psnr[0], byPng.views[v].psnr[0]);
        // A video side of grey views has neutral chroma: U and V are only
        // measured when both sides have them.
        if (byPng.chroma || names.find("png") == std::string::npos) {
          EXPECT_EQ(other.views[v].psnr[1], byPng.chroma ? byPng.views[v].psnr[1] : kInf);
        } else {
          EXPECT_TRUE(std::isnan(other.views[v].psnr[1]));
          EXPECT_TRUE(std::isnan(other.views[v].psnrYuv));
        }
      }
      EXPECT_EQ(other.total.psnr[0], byPng.total.psnr[0]);
    }
  }
}

TEST(CompareSides, RefusesSidesThatDoNotPairWithOneLineNamingBoth) {
  const std::string dir = testing::makeTestDir();
  const Samples flat = [](int, int, int, int) { return 100; };
  yuvFolder(dir + "/two", 2, 2, flat);
  yuvFolder(dir + "/three", 3, 2, flat);
  yuvFolder(dir + "/two-one-frame", 2, 1, flat);
  PngViewFiles png(dir + "/png", 2);
  ViewGrid grid(2, std::vector<cv::Mat>(2, cv::Mat(2, 6, CV_8UC3, cv::Scalar::all(9))));
  testing::writeFrame(png, grid, 1);
  lensletFile(dir + "/v_4x2_.yuv", 2, flat, false);
  lensletFile(dir + "/w_4x2_.yuv", 1, flat, false);
  lensletFile(dir + "/t_4x2_10bit.yuv", 1, flat, true);
  lensletFile(dir + "/u_2x4_.yuv", 2, flat, false);
  mkfifo((dir + "/pipe.yuv").c_str(), 0600);
  testing::writeTextFile(dir + "/notes.txt", "x");
  const struct {
    const char* ref;
    const char* test;
    std::string message;
  } cases[] = {
      {"two", "three", "REF \"" + dir + "/two\" has 2 x 2 views, TEST \"" + dir + "/three\" 3 x 3"},
      {"two", "png",
       "REF \"" + dir + "/two\" has views of 4 x 2, TEST \"" + dir + "/png\" of 6 x 2"},
      {"two", "two-one-frame",
       "frame 1 is in REF \"" + dir + "/two\" but not in TEST \"" + dir +
           "/two-one-frame\" (2 frames and 1 frame)"},
      {"two", "v_4x2_.yuv",
       "REF \"" + dir + "/two\" is a view folder and TEST \"" + dir +
           "/v_4x2_.yuv\" a lenslet video"},
      {"v_4x2_.yuv", "w_4x2_.yuv",
       "REF \"" + dir + "/v_4x2_.yuv\" holds 2 frames, TEST \"" + dir + "/w_4x2_.yuv\" 1"},
      {"w_4x2_.yuv", "t_4x2_10bit.yuv",
       "is 4 x 2, 8-bit 4:2:0, TEST \"" + dir + "/t_4x2_10bit.yuv\" 4 x 2, 10-bit 4:2:0"},
      {"v_4x2_.yuv", "u_2x4_.yuv", "is 4 x 2, 8-bit 4:2:0, TEST \"" + dir + "/u_2x4_.yuv\" 2 x 4"},
      {"v_4x2_.yuv", "pipe.yuv", "TEST \"" + dir + "/pipe.yuv\" is not a regular file"},
      {"notes.txt", "two", "REF \"" + dir + "/notes.txt\" is neither a folder of views nor a"},
      {"two", "gone", "cannot open TEST \"" + dir + "/gone\": No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ref) + " " + c.test);
    const std::string message =
        testing::refusal([&] { compareSides(dir + "/" + c.ref, dir + "/" + c.test); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace plenoview
