// The generator's grid and its raw-to-view mapping, checked against the lens
// grid model and the rendering rules written out here, not taken from the
// generator.

#include "calibration/lens_calibration.h"
#include "pipeline/merge_patch.h"
#include "renderer/multi_view_renderer.h"
#include "tests/test_support.h"
#include "tests/tools/synth/synth_fixture.h"
#include "tools/synth/synthesize.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace plenoview::synth {
namespace {

using testing::plainOptions;
using testing::synthesizeAndRead;

// The lens centre of lens `column` of type `type` in row `row`, in the frame
// turned back: same-type lenses 3 diameters apart along a row, rows
// sqrt(3) x radius apart, the row's parity choosing the reference x.
cv::Point2d gridCentre(const LensCalibration& c, int type, int row, int column) {
  return {3 * c.diameter * column + c.subGridRefPos[row % 2][type].x,
          std::sqrt(3.0) * c.radius * row + c.subGridRefPos[0][type].y};
}

// The lens type whose even-row reference lens lies between the other two.
int middleOf(const LensCalibration& c) {
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3,
            [&](int a, int b) { return c.subGridRefPos[0][a].x < c.subGridRefPos[0][b].x; });
  return order[1];
}

double bilinear(const cv::Mat& image, double x, double y, int channel) {
  const int x0 = static_cast<int>(std::floor(x));
  const int y0 = static_cast<int>(std::floor(y));
  const double ax = x - x0;
  const double ay = y - y0;
  const int n = image.channels();
  const auto at = [&](int yy, int xx) {
    return static_cast<double>(image.ptr<uchar>(yy)[xx * n + channel]);
  };
  return (at(y0, x0) * (1 - ax) + at(y0, x0 + 1) * ax) * (1 - ay) +
         (at(y0 + 1, x0) * (1 - ax) + at(y0 + 1, x0 + 1) * ax) * ay;
}

struct GridCase {
  const char* name;
  double diameter;
  double rotation;
  cv::Point2d centre;
  cv::Point2f offsets[3];
};

class SynthCalibration : public ::testing::TestWithParam<GridCase> {};

// The calibration file reads back to the generator's parameters (the frame is
// 160 x 128; the offset moves the centre right and down). Micro-image
// centres: on a flat field with full vignetting each micro-image
// is a bright spot about its lens centre that fades to the sensor's dark at
// its rim, so the centroid of the brightness above the dark, within a radius
// and a half pixel of the expected centre, is that centre. The frame is the
// grid turned by +rotation about the grid centre (the renderer turns it back
// by -rotation).
TEST_P(SynthCalibration, ReadsBackAndPutsMicroImagesWhereTheGridModelDoes) {
  const GridCase& g = GetParam();
  SynthOptions options = plainOptions(plenoview::testing::makeTestDir());
  options.width = 160;
  options.height = 128;
  options.diameter = g.diameter;
  options.rotation = g.rotation;
  options.centerOffset = g.centre;
  for (int t = 0; t < 3; ++t) options.typeOffset[t] = g.offsets[t];
  options.scene = SceneKind::kWhite;
  options.vignetting = 1.0;
  const testing::SynthOutput out = synthesizeAndRead(options);
  const LensCalibration& c = out.calib;
  EXPECT_EQ(c.diameter, g.diameter);
  EXPECT_EQ(c.rotation, g.rotation);
  EXPECT_EQ(c.center, cv::Point2d(80.0 + g.centre.x, 64.0 + g.centre.y));
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(c.offset[t], cv::Point2d(g.offsets[t])) << "type " << t;
  }
  const cv::Mat& frame = out.frames[0];
  ASSERT_EQ(frame.type(), CV_8UC3);

  // A misplaced lens grid moves whole discs by a pixel or more; the centroid
  // of a disc drawn with smooth edges is good to a few hundredths.
  constexpr double kCentreTolerance = 0.1;
  const double cosA = std::cos(g.rotation);
  const double sinA = std::sin(g.rotation);
  const double window = c.radius + 0.5;
  int checked = 0;
  for (int type = 0; type < 3; ++type) {
    for (int row = 0; row < c.num.y; ++row) {
      for (int column = 0; column < c.num.x; ++column) {
        const cv::Point2d u = gridCentre(c, type, row, column) - c.center;
        const cv::Point2d expected =
            c.center + cv::Point2d(cosA * u.x + sinA * u.y, -sinA * u.x + cosA * u.y);
        if (expected.x < window + 2 || expected.y < window + 2 ||
            expected.x > frame.cols - window - 3 || expected.y > frame.rows - window - 3) {
          continue;
        }
        double sum = 0, sx = 0, sy = 0;
        for (int y = static_cast<int>(expected.y - window) - 1; y <= expected.y + window + 1; ++y) {
          for (int x = static_cast<int>(expected.x - window) - 1; x <= expected.x + window + 1;
               ++x) {
            if (std::hypot(x - expected.x, y - expected.y) > window) continue;
            const double v = std::max(0, frame.at<cv::Vec3b>(y, x)[1] - 6);
            sum += v;
            sx += v * x;
            sy += v * y;
          }
        }
        EXPECT_NEAR(sx / sum, expected.x, kCentreTolerance)
            << "type " << type << " row " << row << " lens " << column;
        EXPECT_NEAR(sy / sum, expected.y, kCentreTolerance)
            << "type " << type << " row " << row << " lens " << column;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 20);
}

INSTANTIATE_TEST_SUITE_P(
    Grids, SynthCalibration,
    ::testing::Values(
        GridCase{"TypesInOrder", 9.0, 0.0, {0, 0}, {{0, 0}, {1, 0}, {2, 0}}},
        GridCase{
            "TypesReversedFractionalDiameter", 9.4, 0.0, {1.5, -2.25}, {{2, 0}, {1, 0}, {0, 0}}},
        GridCase{"OffsetsSplitOverXAndY", 10.0, 0.02, {-3.0, 1.0}, {{0.5, 0.5}, {-1, 0}, {0, 0}}},
        GridCase{"TurnedGrid", 9.0, 0.08, {0.25, 0.5}, {{1, 0}, {0, 0}, {2, 0}}}),
    plenoview::testing::CaseName());

struct MappingCase {
  const char* name;
  double diameter;
  int views;
  cv::Point2f offsets[3];
  DepthLayout depth;
  cv::Point motion;
};

class SynthMapping : public ::testing::TestWithParam<MappingCase> {};

// For every rendered lens at its true patch size s, the rendering cuts a
// lensMask-sized (w x h) patch from the frame padded by B = N/2 and scaled by
// k = w / (s + 2) (single precision; the scale level is trunc(padded size x k)
// wide) at corner round(k x (c + B) - w/2), and pastes it into the view at
// round((c + B - r) x g + r - w/2), g = (radius - 1) / diameter, r the type's
// even-row reference lens. A raw pixel u of the lens therefore lands at
//   V = dest + (u + B + 0.5) x level / padded - 0.5 - source
// in the type's centre view, which shows the texture moved by
// (1 - g) x (x of the middle type's reference - x of the type's reference).
// Each raw pixel that the patch uses must be the texture there.
TEST_P(SynthMapping, RawPixelsAreTheTextureWhereTheRenderingPlacesThem) {
  const MappingCase& m = GetParam();
  SynthOptions options = plainOptions(plenoview::testing::makeTestDir());
  options.diameter = m.diameter;
  options.views = m.views;
  for (int t = 0; t < 3; ++t) options.typeOffset[t] = m.offsets[t];
  options.depth = m.depth;
  options.motion = m.motion;
  options.frames = 2;
  options.smallestPatch = 3;
  options.largestPatch = static_cast<int>(m.diameter) - 2;
  const testing::SynthOutput out = synthesizeAndRead(options);
  const LensCalibration& c = out.calib;

  const int B = m.views / 2;
  const int w = static_cast<int>(c.diameter);
  const int h = w;
  const cv::Size padded(options.width + 2 * B, options.height + 2 * B);
  const double g = (c.radius - 1) / c.diameter;
  const int middle = middleOf(c);
  // Rounding the expected value and the generator's value can differ by one
  // where the texture value lies within float noise of a half.
  constexpr int kRoundingTolerance = 1;

  for (int f = 0; f < options.frames; ++f) {
    const cv::Mat& frame = out.frames[f];
    const cv::Mat& texture = out.textures[f];
    int checked = 0;
    for (int type = 0; type < 3; ++type) {
      const cv::Point2d ref = c.subGridRefPos[0][type];
      const double shift = (1 - g) * (c.subGridRefPos[0][middle].x - ref.x);
      for (int row = 0; row < c.num.y; ++row) {
        for (int column = 0; column < c.num.x; ++column) {
          const int s = out.patchSizes[f][type].at<uchar>(row, column) + 2;
          const float k = static_cast<float>(w) / static_cast<float>(s);
          const cv::Size level(static_cast<int>(padded.width * k),
                               static_cast<int>(padded.height * k));
          const cv::Point2d centre = gridCentre(c, type, row, column);
          const double px = centre.x + B;
          const double py = centre.y + B;
          const double sourceX = std::nearbyint(static_cast<double>(k) * px - w * 0.5);
          const double sourceY = std::nearbyint(static_cast<double>(k) * py - h * 0.5);
          const double destX = std::nearbyint((px - ref.x) * g + ref.x - w * 0.5);
          const double destY = std::nearbyint((py - ref.y) * g + ref.y - h * 0.5);
          // The pixels well inside the disc of diameter s that the patch covers.
          const double reach = s * 0.5 - 1;
          for (int y = static_cast<int>(centre.y - reach); y <= centre.y + reach + 1; ++y) {
            for (int x = static_cast<int>(centre.x - reach); x <= centre.x + reach + 1; ++x) {
              if (std::hypot(x - centre.x, y - centre.y) >= reach || x < 0 || y < 0 ||
                  x >= frame.cols || y >= frame.rows) {
                continue;
              }
              const double vx =
                  destX + ((x + B + 0.5) * level.width / padded.width - 0.5 - sourceX) + shift;
              const double vy =
                  destY + ((y + B + 0.5) * level.height / padded.height - 0.5 - sourceY);
              if (vx < 0 || vy < 0 || vx > texture.cols - 2 || vy > texture.rows - 2) continue;
              for (int ch = 0; ch < 3; ++ch) {
                const int expected =
                    static_cast<int>(std::nearbyint(bilinear(texture, vx, vy, ch)));
                const int actual = frame.at<cv::Vec3b>(y, x)[ch];
                ASSERT_LE(std::abs(actual - expected), kRoundingTolerance)
                    << "frame " << f << " type " << type << " row " << row << " lens " << column
                    << " patch " << s - 2 << " raw (" << x << ", " << y << ") view (" << vx << ", "
                    << vy << ") channel " << ch;
              }
              ++checked;
            }
          }
        }
      }
    }
    EXPECT_GT(checked, 500) << "frame " << f;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SynthMapping,
    ::testing::Values(
        MappingCase{
            "RegionsFiveViews", 9.0, 5, {{0, 0}, {1, 0}, {2, 0}}, DepthLayout::kRegions, {0, 0}},
        MappingCase{
            "RampThreeViewsMoving", 9.0, 3, {{2, 0}, {0, 0}, {1, 0}}, DepthLayout::kRamp, {3, -2}},
        MappingCase{"FractionalDiameterOneView",
                    10.6,
                    1,
                    {{1, 0}, {2, 0}, {0, 0}},
                    DepthLayout::kRamp,
                    {0, 0}},
        MappingCase{"FourViews", 9.5, 4, {{0, 0}, {2, 0}, {1, 0}}, DepthLayout::kRegions, {-1, 1}}),
    plenoview::testing::CaseName());

// The same, seen from the rendering: the frame turned back and scaled by the
// renderer's own frame preparation, patches cut and merged as the rendering
// does, must give the texture. The raw frame holds the texture at a pitch of
// up to 1.8 view pixels and the views are resampled twice (turn, scale), so
// they show it softened, like the texture blurred by a Gaussian of about a
// pixel; compared with that, the views must match it clearly better where
// they should than half a pixel to any side.
TEST(SynthRendering, CentreViewsOfTheTruePatchSizesShowTheTexture) {
  SynthOptions options = plainOptions(plenoview::testing::makeTestDir());
  options.width = 150;
  options.height = 120;
  options.rotation = 0.03;
  options.depth = DepthLayout::kRamp;
  options.typeOffset[0] = {1, 0};
  options.typeOffset[1] = {0, 0};
  const testing::SynthOutput out = synthesizeAndRead(options);
  const LensCalibration& c = out.calib;

  plenoview::RendererOptions wholeLevels;
  wholeLevels.buildAllScaleLevels = true;  // the levels are read here whole
  MultiViewRenderer renderer(c, options.views, wholeLevels);
  FrameImages images;
  renderer.loadRawImage(out.frames[0], images);
  renderer.prepareRawImage(images);

  const cv::Mat& mask = renderer.lensMask;
  const int w = mask.cols;
  const double g = (c.radius - 1) / c.diameter;
  const int middle = middleOf(c);
  for (int type = 0; type < 3; ++type) {
    const cv::Point2d ref = c.subGridRefPos[0][type];
    cv::Mat view = cv::Mat::zeros(renderer.viewSize, CV_8UC3);
    for (int row = 0; row < c.num.y; ++row) {
      for (int column = 0; column < c.num.x; ++column) {
        const int s = out.patchSizes[0][type].at<uchar>(row, column) + 2;
        const float k = static_cast<float>(w) / static_cast<float>(s);
        const cv::Point2d lens =
            gridCentre(c, type, row, column) + cv::Point2d(images.rawBorder, images.rawBorder);
        const cv::Mat& level = images.scaledRawImage[1][s - 3];
        const cv::Rect source(cvRound(k * lens.x - w * 0.5), cvRound(k * lens.y - w * 0.5), w, w);
        const cv::Rect dest(cvRound((lens.x - ref.x) * g + ref.x - w * 0.5),
                            cvRound((lens.y - ref.y) * g + ref.y - w * 0.5), w, w);
        if ((source & cv::Rect(0, 0, level.cols, level.rows)) != source ||
            (dest & cv::Rect(0, 0, view.cols, view.rows)) != dest) {
          continue;
        }
        cv::Mat patch(w, w, CV_8UC3, cv::Scalar::all(255));
        level(source).copyTo(patch, mask);
        cv::Mat target = view(dest);
        mergePatch(patch, target, mask, 0.5);
      }
    }
    // Mean difference to the texture over the covered inner part of the view,
    // at the type's shift and half a pixel beside it.
    const double shift = (1 - g) * (c.subGridRefPos[0][middle].x - ref.x);
    cv::Mat texture;
    cv::GaussianBlur(out.textures[0], texture, cv::Size(0, 0), 1.0);
    const cv::Point2d offsets[] = {{0, 0}, {0.5, 0}, {-0.5, 0}, {0, 0.5}, {0, -0.5}};
    double difference[5] = {0, 0, 0, 0, 0};
    int count = 0;
    for (int y = w; y < view.rows - w; ++y) {
      for (int x = w; x < view.cols - w; ++x) {
        const cv::Vec3b v = view.at<cv::Vec3b>(y, x);
        const double tx = x + shift;
        if (v == cv::Vec3b(0, 0, 0) || tx < 1 || tx > texture.cols - 3) continue;
        for (int i = 0; i < 5; ++i) {
          for (int ch = 0; ch < 3; ++ch) {
            difference[i] +=
                std::abs(v[ch] - bilinear(texture, tx + offsets[i].x, y + offsets[i].y, ch));
          }
        }
        ++count;
      }
    }
    ASSERT_GT(count, 1000) << "type " << type;
    for (int i = 1; i < 5; ++i) {
      EXPECT_LT(difference[0], difference[i])
          << "type " << type << ": mean difference " << difference[0] / (3 * count) << ", moved by "
          << offsets[i] << ": " << difference[i] / (3 * count);
    }
  }
}

}  // namespace
}  // namespace plenoview::synth
