#include "io/compare_sides.h"

#include "io/view_videos.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace plenoview {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// The expected figures are written with four decimals.
constexpr double kFourDecimals = 5e-5;

// How far TEST lies from REF (100 everywhere, 400 for 10-bit) in sample i of
// plane p (0 Y, 1 U, 2 V) of view v (x * n + y) in frame k.
using Offset = int (*)(int p, int v, int k, int i);
int yUp(int p, int, int, int) { return p == 0; }
int yUpUDownOnceVUp4(int p, int, int, int i) { return p == 0 ? 1 : p == 1 ? -2 * (i == 0) : 4; }
int yUp2InFrame1(int p, int, int k, int) { return 2 * (p == 0 && k == 1); }
int yUp1Or2ByView(int p, int v, int, int) { return p == 0 ? 1 + v % 2 : 0; }
int allDownButView2(int, int v, int, int) { return -(v != 2); }
int yUpVDown4(int p, int, int, int) { return p == 0 ? 1 : p == 1 ? 0 : -4; }
int yUpUDown2VUp(int p, int, int, int) { return p == 1 ? -2 : 1; }

// n x n views (or one lenslet video) of 4 x 2 I420 frames: Y 8 samples, U 2,
// V 2; 10-bit samples in two bytes, little-endian.
void writeSide(const std::string& path, const std::string& kind, int n, int frames, Offset offset) {
  const bool lenslet = kind != "yuv";
  const bool tenBit = kind == "lenslet10";
  if (!lenslet) std::filesystem::create_directories(path + "/Result");
  for (int v = 0; v < n * n; ++v) {
    std::string bytes;
    for (int k = 0; k < frames; ++k) {
      for (int i = 0; i < 12; ++i) {
        const int p = i < 8 ? 0 : i < 10 ? 1 : 2;
        const int sample = (tenBit ? 400 : 100) + (offset ? offset(p, v, k, i % 8 % 2) : 0);
        bytes += static_cast<char>(sample & 0xff);
        if (tenBit) bytes += static_cast<char>(sample >> 8);
      }
    }
    testing::writeTextFile(
        lenslet
            ? path
            : path + "/Result/" + viewVideoFileName(v / n, v % n, ViewVideoFormat::kYuv, {4, 2}),
        bytes);
  }
}

using Row = std::array<double, 4>;  // PSNR Y, U, V, YUV

struct Case {
  const char* name;
  const char* kind;  // "yuv": view folders; "lenslet", "lenslet10": raw lenslet videos
  int n;
  int frames;
  Offset offset;
  std::vector<Row> views;
  Row total;  // MV-PSNR, or lenslet PSNR
};

// PSNR = 10 log10(peak^2 / MSE): 48.1308 for MSE 1 at peak 255, 45.1205 for
// 2, 42.1102 for 4, 36.0896 for 16; 60.1975 for MSE 1 at peak 1023, 54.1769
// for 4.
TEST(CompareSides, GivesTheWorkflowsFiguresDerivedByHand) {
  // Y MSE 1, U and V equal, so YUV-PSNR is infinite.
  const Row yOne = {48.1308, kInf, kInf, kInf};
  // Y MSE 1, U 2, V 16: YUV-PSNR (6 x 48.1308036 + 45.1205037 + 36.0896038) / 8.
  const Row chroma = {48.1308, 45.1205, 36.0896, 46.2494};
  const Row yTwo = {45.1205, kInf, kInf, kInf};
  const Row yFour = {42.1102, kInf, kInf, kInf};
  const Row allOne = {48.1308, 48.1308, 48.1308, 48.1308};
  const Row equal = {kInf, kInf, kInf, kInf};
  const Case cases[] = {
      {"Y one above", "yuv", 2, 1, yUp, {yOne, yOne, yOne, yOne}, yOne},
      // U 2 below in one of its two samples, V 4 above.
      {"chroma below and above", "yuv", 1, 1, yUpUDownOnceVUp4, {chroma}, chroma},
      // Y equal in frame 0 and 2 off in frame 1: the MSEs 0 and 4 average to
      // 2 (the PSNRs, infinite and 42.1102, would not).
      {"frames average their MSEs", "yuv", 1, 2, yUp2InFrame1, {yTwo}, yTwo},
      // Views with Y MSE 1, 4, 1, 4: MV-PSNR is the mean of their PSNRs,
      // (48.1308 + 42.1102) / 2 = 45.1205, not the PSNR of the mean MSE 2.5
      // (44.1514).
      {"views average their PSNRs", "yuv", 2, 1, yUp1Or2ByView, {yOne, yFour, yOne, yFour}, yTwo},
      // One view (c0100) equal in every plane makes every mean infinite.
      {"one identical view", "yuv", 2, 3, allDownButView2, {allOne, allOne, equal, allOne}, equal},
      // The whole frame of two lenslet videos: Y MSE 1, V 16.
      {"lenslet", "lenslet", 1, 2, yUpVDown4, {}, {48.1308, kInf, 36.0896, kInf}},
      // 10-bit samples, peak 1023: Y and V 1 above, U 2 below (MSE 4).
      // YUV-PSNR (7 x 60.1975127 + 54.1769128) / 8 = 59.4449.
      {"lenslet 10-bit", "lenslet10", 1, 2, yUpUDown2VUp, {}, {60.1975, 54.1769, 60.1975, 59.4449}},
  };
  const char* const names[] = {"c0000", "c0001", "c0100", "c0101"};
  const std::string dir = testing::makeTestDir();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Raw lenslet videos carry their size (and depth) in their names.
    const std::string tail = std::string(c.kind) == "yuv"         ? ""
                             : std::string(c.kind) == "lenslet10" ? "_4x2_10bit.yuv"
                                                                  : "_4x2_.yuv";
    const std::string at = dir + "/" + std::to_string(&c - cases);
    writeSide(at + "ref" + tail, c.kind, c.n, c.frames, nullptr);
    writeSide(at + "test" + tail, c.kind, c.n, c.frames, c.offset);

    const Comparison result = compareSides(at + "ref" + tail, at + "test" + tail);
    EXPECT_EQ(result.lenslet, !c.views.size());
    EXPECT_EQ(result.peak, std::string(c.kind) == "lenslet10" ? 1023 : 255);
    EXPECT_EQ(result.frames, c.frames);
    const auto expectRow = [](const PlaneScores& got, const Row& want) {
      const Row figures = {got.psnr[0], got.psnr[1], got.psnr[2], got.psnrYuv};
      for (int i = 0; i < 4; ++i) {
        if (std::isinf(want[i])) {
          EXPECT_EQ(figures[i], kInf) << got.name << " column " << i;
        } else {
          EXPECT_NEAR(figures[i], want[i], kFourDecimals) << got.name << " column " << i;
        }
      }
    };
    ASSERT_EQ(result.views.size(), c.views.size());
    for (size_t v = 0; v < c.views.size(); ++v) {
      EXPECT_EQ(result.views[v].name, names[v]);
      expectRow(result.views[v], c.views[v]);
    }
    expectRow(result.total, c.total);
  }
}

}  // namespace
}  // namespace plenoview
