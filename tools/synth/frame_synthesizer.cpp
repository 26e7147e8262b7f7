#include "tools/synth/frame_synthesizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <unordered_map>

namespace plenoview::synth {

namespace {

// Area of a sensor pixel, as a Gaussian in raw pixels: keeps the small
// patch sizes (a large demagnification) from aliasing when blur is on.
constexpr double kPixelSigma = 0.35;

// Sensor noise: normal deviates from the standard engine by Box-Muller.
class SensorNoise {
 public:
  SensorNoise(std::uint32_t seed, int frame) {
    std::seed_seq sequence{seed, 1000u + static_cast<std::uint32_t>(frame)};
    engine_.seed(sequence);
  }
  double next() {
    if (spare_) {
      spare_ = false;
      return second_;
    }
    const double u1 = (engine_() + 1.0) / 4294967296.0;  // (0, 1]
    const double u2 = engine_() / 4294967296.0;
    const double radius = std::sqrt(-2.0 * std::log(u1));
    second_ = radius * std::sin(6.283185307179586 * u2);
    spare_ = true;
    return radius * std::cos(6.283185307179586 * u2);
  }

 private:
  std::mt19937 engine_;
  bool spare_ = false;
  double second_ = 0.0;
};

// What a lens shows in one frame: its place, its mapping into the texture
// and its blur in raster pixels.
struct LensLook {
  cv::Point2d centre;
  LensMapping mapping;
  double sigma = 0.0;
};

std::int64_t lensKey(const LensIndex& lens) {
  return (static_cast<std::int64_t>(lens.row) * 3 + lens.type) * 1000003LL + lens.column;
}

}  // namespace

cv::Point patchSizeRange(const SynthOptions& options, const SynthGrid& grid) {
  if (options.smallestPatch > 0) return {options.smallestPatch, options.largestPatch};
  return {grid.firstCandidate(), std::max(grid.firstCandidate(), grid.lastCandidate() - 2)};
}

FrameSynthesizer::FrameSynthesizer(const SynthOptions& options, const SynthGrid& grid)
    : options_(options), grid_(grid) {
  const cv::Point range = patchSizeRange(options, grid);
  smallest_ = range.x;
  largest_ = range.y;

  // The raster covers the view, every point a lens of the frame can show
  // (a micro-image reaches k x d/2 beyond its lens's place, k at most
  // w / (smallest + 2), the types lie up to 2 d x (1 - g) apart), the reach of
  // the widest blur, and the motion of all frames.
  const LensCalibration& c = grid.calib();
  double maxSigma = 0.0;
  for (int type = 0; type < kLensTypes; ++type) {
    for (int s = smallest_; s <= largest_; ++s) {
      maxSigma = std::max(maxSigma, blurSigma(type, s) * static_cast<int>(c.diameter) / (s + 2.0));
    }
  }
  const double kMax = static_cast<int>(c.diameter) / (smallest_ + 2.0);
  const int margin =
      static_cast<int>(std::ceil(kMax * c.diameter + 3.0 * c.diameter + 3.0 * maxSigma)) + 8;
  const cv::Point travel = options.motion * (options.frames - 1);
  origin_ = cv::Point2d(margin + std::max(0, travel.x), margin + std::max(0, travel.y));
  const cv::Rect area(-static_cast<int>(origin_.x), -static_cast<int>(origin_.y),
                      grid.viewSize().width + 2 * margin + std::abs(travel.x),
                      grid.viewSize().height + 2 * margin + std::abs(travel.y));
  texture_ = std::make_unique<SceneTexture>(options.scene, options.colour, area, options.seed,
                                            maxSigma * 1.01);
}

cv::Point2d FrameSynthesizer::rasterPosition(cv::Point2d p, int frame) const {
  return {p.x + origin_.x - options_.motion.x * frame, p.y + origin_.y - options_.motion.y * frame};
}

int FrameSynthesizer::patchSize(const LensIndex& lens, int frame) const {
  // Depth is fixed to the plane, so it moves with the texture.
  const cv::Point2d p = grid_.textureCentre(lens) - cv::Point2d(options_.motion * frame);
  const cv::Size view = grid_.viewSize();
  switch (options_.depth) {
    case DepthLayout::kConstant:
      return smallest_;
    case DepthLayout::kRamp: {
      const double along = std::min(1.0, std::max(0.0, p.x / (view.width - 1)));
      return static_cast<int>(std::floor(smallest_ + (largest_ - smallest_) * along + 0.5));
    }
    case DepthLayout::kRegions:
    default: {
      const double unit = std::min(view.width, view.height);
      const cv::Point2d disc(0.3 * view.width, 0.55 * view.height);
      const cv::Point2d square(0.7 * view.width, 0.4 * view.height);
      if (std::hypot(p.x - disc.x, p.y - disc.y) < 0.22 * unit) return smallest_;
      if (std::abs(p.x - square.x) < 0.17 * unit && std::abs(p.y - square.y) < 0.17 * unit)
        return largest_;
      return (smallest_ + largest_ + 1) / 2;
    }
  }
}

double FrameSynthesizer::blurSigma(int type, int patchSize) const {
  if (options_.blur <= 0.0) return 0.0;
  // Type t is sharpest at a + t x (b - a) / 2 over the candidate range a .. b
  // and reaches the full blur at the far end of the range.
  const double a = grid_.firstCandidate();
  const double b = grid_.lastCandidate();
  const double focus = a + type * ((b - a) * 0.5);
  const double defocus = b > a ? options_.blur * std::abs(patchSize - focus) / (b - a) : 0.0;
  return std::sqrt(defocus * defocus + kPixelSigma * kPixelSigma);
}

cv::Mat FrameSynthesizer::truePatchSizes(int frame, int type) const {
  const cv::Point num = grid_.calib().num;
  cv::Mat sizes(num.y, num.x, CV_8UC1);
  for (int row = 0; row < num.y; ++row) {
    for (int column = 0; column < num.x; ++column) {
      sizes.at<uchar>(row, column) = static_cast<uchar>(patchSize({type, row, column}, frame));
    }
  }
  return sizes;
}

cv::Mat FrameSynthesizer::truthTexture(int frame) const {
  const cv::Point2d corner = rasterPosition({0.0, 0.0}, frame);
  const cv::Rect view(cv::Point(static_cast<int>(corner.x), static_cast<int>(corner.y)),
                      grid_.viewSize());
  return texture_->raster()(view).clone();
}

cv::Mat FrameSynthesizer::rawFrame(int frame) const {
  const cv::Size size = grid_.frameSize();
  const int channels = texture_->channels();
  cv::Mat image(size, channels == 3 ? CV_8UC3 : CV_8UC1);
  const cv::Mat turn = grid_.turnBack();
  const double* m = turn.ptr<double>(0);
  const double* n = turn.ptr<double>(1);
  const LensCalibration& c = grid_.calib();
  const bool hex = options_.look == MicroImageLook::kHex;
  // Disc: the lens diameter. Hexagon: the cell less a thin dark line,
  // its corners rounded by a circle slightly wider than the cell.
  const double rim = hex ? c.radius - 0.4 : c.radius;
  const double halfRoot3 = std::sqrt(3.0) * 0.5;
  SensorNoise noise(options_.seed, frame);
  std::unordered_map<std::int64_t, LensLook> looks;

  for (int y = 0; y < size.height; ++y) {
    uchar* out = image.ptr<uchar>(y);
    for (int x = 0; x < size.width; ++x) {
      // Where the renderer's turn-back carries this pixel.
      const cv::Point2d u(m[0] * x + m[1] * y + m[2], n[0] * x + n[1] * y + n[2]);
      const LensIndex lens = grid_.nearestLens(u);
      auto found = looks.find(lensKey(lens));
      if (found == looks.end()) {
        LensLook look;
        look.centre = grid_.lensCentre(lens);
        look.mapping = grid_.mapping(lens, patchSize(lens, frame));
        const double k =
            static_cast<double>(look.mapping.levelSize.width) / look.mapping.paddedSize.width;
        look.sigma = blurSigma(lens.type, look.mapping.patchSize) * k;
        found = looks.emplace(lensKey(lens), look).first;
      }
      const LensLook& look = found->second;

      // How far into the micro-image, and how much of the pixel it covers.
      const cv::Point2d d = u - look.centre;
      const double round = std::sqrt(d.x * d.x + d.y * d.y);
      double reach = round;
      if (hex) {
        const double cell = std::max({std::abs(d.x), std::abs(0.5 * d.x + halfRoot3 * d.y),
                                      std::abs(0.5 * d.x - halfRoot3 * d.y)});
        reach = std::max(cell, 0.94 * round);
      }
      const double coverage = std::min(1.0, std::max(0.0, rim - reach + 0.5));

      double value[3] = {kSensorLevel, kSensorLevel, kSensorLevel};
      if (coverage > 0.0) {
        double content[3];
        const cv::Point2d p = rasterPosition(look.mapping.toTexture(u), frame);
        texture_->sample(p.x, p.y, look.sigma, content);
        const double edge = std::min(1.0, reach / rim);
        const double light = 1.0 - options_.vignetting * edge * edge;
        for (int ch = 0; ch < channels; ++ch) {
          value[ch] = coverage == 1.0
                          ? content[ch] * light
                          : kSensorLevel + coverage * (content[ch] * light - kSensorLevel);
        }
      }
      for (int ch = 0; ch < channels; ++ch) {
        const double noisy =
            options_.noise > 0.0 ? value[ch] + options_.noise * noise.next() : value[ch];
        out[x * channels + ch] = cv::saturate_cast<uchar>(noisy);
      }
    }
  }
  return image;
}

}  // namespace plenoview::synth
