// The generator's scene: depth layouts, defocus per lens type, motion, noise,
// reproducibility and the files it writes.

#include "base/plenoview_error.h"
#include "renderer/multi_view_renderer.h"
#include "tests/test_support.h"
#include "tests/tools/synth/synth_fixture.h"
#include "tools/synth/scene_texture.h"
#include "tools/synth/synthesize.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>

namespace plenoview::synth {
namespace {

namespace fs = std::filesystem;
using plenoview::testing::readFile;
using testing::plainOptions;
using testing::synthesizeAndRead;

// Lens type of the nearest lens centre of an unturned grid, and the distance to it.
std::pair<int, double> nearestType(const LensCalibration& c, double x, double y) {
  std::pair<int, double> best{-1, 1e9};
  const double rowPitch = std::sqrt(3.0) * c.radius;
  const int row0 = static_cast<int>(std::floor((y - c.subGridRefPos[0][0].y) / rowPitch));
  for (int row = row0; row <= row0 + 1; ++row) {
    for (int type = 0; type < 3; ++type) {
      const double x0 = c.subGridRefPos[((row % 2) + 2) % 2][type].x;
      const double column = std::round((x - x0) / (3 * c.diameter));
      const double dx = x - (3 * c.diameter * column + x0);
      const double dy = y - (rowPitch * row + c.subGridRefPos[0][type].y);
      const double d = std::hypot(dx, dy);
      if (d < best.second) best = {type, d};
    }
  }
  return best;
}

TEST(SynthScene, SameSeedGivesTheSameBytesAndAnotherSeedOtherFrames) {
  const std::string root = plenoview::testing::makeTestDir();
  SynthOptions options = plainOptions(root + "/a");
  options.frames = 2;
  options.noise = 3.0;
  options.blur = 1.5;
  options.vignetting = 0.2;
  options.rotation = 0.02;
  options.look = MicroImageLook::kHex;
  options.motion = {2, 1};
  synthesizeAndRead(options);
  options.outputDir = root + "/b";
  synthesizeAndRead(options);
  options.outputDir = root + "/c";
  options.seed = 2;
  synthesizeAndRead(options);

  int files = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root + "/a")) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), root + "/a");
    EXPECT_EQ(readFile(entry.path()), readFile(fs::path(root + "/b") / relative)) << relative;
    ++files;
  }
  // calib.xml, 2 frames, 2 textures, 6 patch-size tables, scene.txt.
  EXPECT_EQ(files, 12);
  EXPECT_NE(readFile(root + "/a/frame000.png"), readFile(root + "/c/frame000.png"));
  EXPECT_NE(readFile(root + "/a/truth/texture_f0001.png"),
            readFile(root + "/c/truth/texture_f0001.png"));
  EXPECT_EQ(readFile(root + "/a/calib.xml"), readFile(root + "/c/calib.xml"));
}

// Each lens type is sharp around its own patch size: with candidates 3 .. 7
// type 0 at 3, type 1 at 5, type 2 at 7. Blur then changes a type's micro-images
// the less the nearer the scene's patch size lies to that type's.
TEST(SynthScene, EachLensTypeIsSharpInItsOwnDepthRange) {
  const std::string root = plenoview::testing::makeTestDir();
  const int sizes[] = {3, 5, 7};
  for (const int size : sizes) {
    SynthOptions options = plainOptions(root + "/sharp" + std::to_string(size));
    options.depth = DepthLayout::kConstant;
    options.smallestPatch = size;
    options.largestPatch = size;
    const testing::SynthOutput sharp = synthesizeAndRead(options);
    options.outputDir = root + "/blurred" + std::to_string(size);
    options.blur = 2.0;
    const testing::SynthOutput blurred = synthesizeAndRead(options);

    double change[3] = {0, 0, 0};
    int count[3] = {0, 0, 0};
    const LensCalibration& c = sharp.calib;
    for (int y = 0; y < options.height; ++y) {
      for (int x = 0; x < options.width; ++x) {
        const std::pair<int, double> lens = nearestType(c, x, y);
        if (lens.second > c.radius - 1) continue;
        const cv::Vec3b a = sharp.frames[0].at<cv::Vec3b>(y, x);
        const cv::Vec3b b = blurred.frames[0].at<cv::Vec3b>(y, x);
        for (int ch = 0; ch < 3; ++ch) change[lens.first] += std::abs(a[ch] - b[ch]);
        ++count[lens.first];
      }
    }
    for (int t = 0; t < 3; ++t) change[t] /= count[t];
    const int focused = (size - 3) / 2;
    for (int t = 0; t < 3; ++t) {
      if (t == focused) continue;
      EXPECT_LT(change[focused], change[t])
          << "patch size " << size << ": type " << focused << " vs " << t;
    }
    if (size == 3) {
      EXPECT_LT(change[1], change[2]);
    }
    if (size == 7) {
      EXPECT_LT(change[1], change[0]);
    }
  }
}

TEST(SynthScene, DepthLayoutsGiveTheirPatchSizes) {
  const std::string root = plenoview::testing::makeTestDir();
  SynthOptions options = plainOptions(root + "/constant");
  options.width = 200;
  options.height = 150;
  options.smallestPatch = 3;
  options.largestPatch = 7;

  options.depth = DepthLayout::kConstant;
  const testing::SynthOutput constant = synthesizeAndRead(options);
  for (int t = 0; t < 3; ++t) {
    const cv::Mat& sizes = constant.patchSizes[0][t];
    ASSERT_EQ(sizes.size(), cv::Size(constant.calib.num.x, constant.calib.num.y));
    EXPECT_TRUE(
        plenoview::testing::sameImage(sizes, cv::Mat(sizes.size(), CV_8UC1, cv::Scalar(3))));
  }

  // Left to right from the smallest to the largest size.
  options.outputDir = root + "/ramp";
  options.depth = DepthLayout::kRamp;
  const testing::SynthOutput ramp = synthesizeAndRead(options);
  for (int t = 0; t < 3; ++t) {
    const cv::Mat& sizes = ramp.patchSizes[0][t];
    for (int row = 0; row < sizes.rows; ++row) {
      for (int column = 1; column < sizes.cols; ++column) {
        EXPECT_LE(sizes.at<uchar>(row, column - 1), sizes.at<uchar>(row, column))
            << "type " << t << " row " << row;
      }
      EXPECT_LE(sizes.at<uchar>(row, 0), 4) << "type " << t << " row " << row;
      EXPECT_GE(sizes.at<uchar>(row, sizes.cols - 1), 6) << "type " << t << " row " << row;
    }
  }

  // Background in the middle of the range, a disc at the smallest and a square
  // at the largest size.
  options.outputDir = root + "/regions";
  options.depth = DepthLayout::kRegions;
  const testing::SynthOutput regions = synthesizeAndRead(options);
  std::set<int> seen;
  for (int t = 0; t < 3; ++t) {
    const cv::Mat& sizes = regions.patchSizes[0][t];
    for (int i = 0; i < static_cast<int>(sizes.total()); ++i) seen.insert(sizes.data[i]);
  }
  EXPECT_EQ(seen, (std::set<int>{3, 5, 7}));
}

// The plane moves by the motion per frame: texture and depth with it.
TEST(SynthScene, TheSceneMovesByTheMotionPerFrame) {
  SynthOptions options = plainOptions(plenoview::testing::makeTestDir());
  options.width = 200;
  options.height = 150;
  options.frames = 3;
  options.motion = {6, -2};
  const testing::SynthOutput out = synthesizeAndRead(options);
  const cv::Mat& first = out.textures[0];
  const cv::Size size = first.size();
  for (int f = 1; f < 3; ++f) {
    // texture_f(x, y) = texture_0(x - 6f, y + 2f)
    const cv::Rect inFrame(6 * f, 0, size.width - 6 * f, size.height - 2 * f);
    const cv::Rect inFirst(0, 2 * f, size.width - 6 * f, size.height - 2 * f);
    EXPECT_TRUE(plenoview::testing::sameImage(out.textures[f](inFrame), first(inFirst)))
        << "frame " << f;
  }
  int changed = 0;
  for (int t = 0; t < 3; ++t)
    changed += cv::countNonZero(out.patchSizes[0][t] != out.patchSizes[2][t]);
  EXPECT_GT(changed, 0);
}

TEST(SynthScene, NoiseHasTheAskedSpread) {
  const std::string root = plenoview::testing::makeTestDir();
  SynthOptions options = plainOptions(root + "/clean");
  options.width = 200;
  options.height = 160;
  options.colour = false;
  const testing::SynthOutput clean = synthesizeAndRead(options);
  options.outputDir = root + "/noisy";
  options.noise = 4.0;
  const testing::SynthOutput noisy = synthesizeAndRead(options);

  double sum = 0, squares = 0;
  int n = 0;
  for (int i = 0; i < static_cast<int>(clean.frames[0].total()); ++i) {
    const int a = clean.frames[0].data[i];
    if (a < 20 || a > 235) continue;  // no clipping at 0 or 255
    const double d = noisy.frames[0].data[i] - a;
    sum += d;
    squares += d * d;
    ++n;
  }
  const double mean = sum / n;
  // Over ~20000 samples the estimates lie within a few percent; rounding to
  // whole grey levels adds 1/12 to the variance.
  EXPECT_NEAR(mean, 0.0, 0.15);
  EXPECT_NEAR(std::sqrt(squares / n - mean * mean), std::sqrt(16.0 + 1.0 / 12), 0.2);
}

TEST(SynthScene, WritesFramesTruthAndReport) {
  const std::string dir = plenoview::testing::makeTestDir();
  SynthOptions options = plainOptions(dir);
  options.frames = 2;
  options.pattern = "raw_%d.png";
  options.colour = false;
  const testing::SynthOutput out = synthesizeAndRead(options);

  const MultiViewRenderer renderer(out.calib, options.views);
  for (int f = 0; f < 2; ++f) {
    EXPECT_EQ(out.frames[f].size(), cv::Size(120, 96));
    EXPECT_EQ(out.frames[f].type(), CV_8UC1);
    EXPECT_EQ(out.textures[f].size(), renderer.viewSize);
    EXPECT_EQ(out.textures[f].type(), CV_8UC1);
    for (int t = 0; t < 3; ++t) {
      EXPECT_EQ(out.patchSizes[f][t].size(), renderer.patchSize[t].size());
      EXPECT_EQ(out.patchSizes[f][t].type(), CV_8UC1);
    }
  }
  EXPECT_EQ(out.log, "calibration: " + dir + "/calib.xml\nframe: " + dir +
                         "/raw_0.png\nframe: " + dir + "/raw_1.png\nground truth: " + dir +
                         "/truth (view size " + std::to_string(renderer.viewSize.width) + " x " +
                         std::to_string(renderer.viewSize.height) + " for 3 x 3 views)\n");
  const std::string scene = readFile(dir + "/truth/scene.txt");
  EXPECT_NE(scene.find("\nview_size " + std::to_string(renderer.viewSize.width) + " " +
                       std::to_string(renderer.viewSize.height) + "\n"),
            std::string::npos);
  // d = 9: g = 3.5 / 9, the types' first lenses a diameter apart, so the
  // outer types' views lie (1 - g) x 9 = 5.5 pixels beside the middle one's.
  int shifts = 0;
  std::istringstream lines(scene);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("type_shift ", 0) != 0) continue;
    const std::string value = line.substr(line.rfind(' ') + 1);
    EXPECT_TRUE(value == "0" || value == "5.5" || value == "-5.5") << line;
    ++shifts;
  }
  EXPECT_EQ(shifts, 3);
}

TEST(SynthRefusal, NamesTheOptionAtFaultAndWritesNothing) {
  const struct {
    void (*change)(SynthOptions&);
    const char* message;
  } cases[] = {
      {[](SynthOptions& o) { o.typeOffset[1] = cv::Point2f(0.5f, 0.f); },
       "--offsets: lens type 1 has x + y = 0.5"},
      {[](SynthOptions& o) { o.typeOffset[2] = cv::Point2f(3.f, 0.f); },
       "--offsets: lens type 2 falls on the same lenses"},
      {[](SynthOptions& o) { o.smallestPatch = 3, o.largestPatch = 8; },
       "--patch-sizes: 3,8 leaves the candidate sizes 3 .. 7"},
      {[](SynthOptions& o) { o.centerOffset = cv::Point2d(0, -45); }, "--center"},
      {[](SynthOptions& o) { o.width = o.height = 20; }, "holds no whole row of three lenses"},
      {[](SynthOptions& o) { o.frames = 2, o.pattern = "frame.png"; },
       "--pattern \"frame.png\" gives every frame the same name"},
  };
  const std::string dir = plenoview::testing::makeTestDir();
  for (const auto& c : cases) {
    SynthOptions options = plainOptions(dir + "/out");
    c.change(options);
    std::ostringstream log;
    EXPECT_THAT(plenoview::testing::refusal([&] { synthesize(options, log); }),
                ::testing::HasSubstr(c.message));
    EXPECT_FALSE(fs::exists(options.outputDir + "/calib.xml")) << c.message;
  }
}

TEST(SceneTexture, ReadsBetweenPixelsBilinearlyAndBlursAFlatFieldToItself) {
  const SceneTexture textured(SceneKind::kTextured, true, cv::Rect(-10, 5, 40, 30), 5, 2.0);
  const cv::Mat& raster = textured.raster();
  double value[3];
  textured.sample(7, 4, 0.0, value);
  for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(value[ch], raster.at<cv::Vec3b>(4, 7)[ch]);
  textured.sample(7.5, 4.25, 0.0, value);
  for (int ch = 0; ch < 3; ++ch) {
    const double top = (raster.at<cv::Vec3b>(4, 7)[ch] + raster.at<cv::Vec3b>(4, 8)[ch]) * 0.5;
    const double bottom = (raster.at<cv::Vec3b>(5, 7)[ch] + raster.at<cv::Vec3b>(5, 8)[ch]) * 0.5;
    EXPECT_DOUBLE_EQ(value[ch], top * 0.75 + bottom * 0.25);
  }
  // Beyond the edge the edge pixels repeat.
  textured.sample(-3.0, 29.7, 0.0, value);
  for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(value[ch], raster.at<cv::Vec3b>(29, 0)[ch]);

  const SceneTexture white(SceneKind::kWhite, false, cv::Rect(0, 0, 20, 20), 5, 4.0);
  for (const double sigma : {0.0, 0.3, 1.7, 4.0, 9.0}) {
    white.sample(10.3, 3.9, sigma, value);
    EXPECT_NEAR(value[0], SceneTexture::kWhiteLevel, 1e-3) << "sigma " << sigma;
  }
}

}  // namespace
}  // namespace plenoview::synth
