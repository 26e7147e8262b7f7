#include "tools/scene_texture.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>

namespace plenoview::synth {

namespace {

// Uniform numbers from the standard engine, whose sequence is fixed by the
// C++ standard (the library's distributions are not), so a seed gives the
// same texture everywhere.
class Random {
 public:
  Random(std::uint32_t seed, std::uint32_t stream) {
    std::seed_seq sequence{seed, stream};
    engine_.seed(sequence);
  }
  double uniform(double low, double high) { return low + (high - low) * (engine_() / 4294967296.0); }
  int below(int n) { return static_cast<int>(uniform(0.0, n)); }

 private:
  std::mt19937 engine_;
};

// Smooth random field of values in [low, high) with features about `cell`
// pixels across, one channel, float.
cv::Mat valueNoise(cv::Size size, double cell, double low, double high, Random& random) {
  const int gw = std::max(2, static_cast<int>(std::ceil(size.width / cell)) + 1);
  const int gh = std::max(2, static_cast<int>(std::ceil(size.height / cell)) + 1);
  cv::Mat grid(gh, gw, CV_32FC1);
  for (int y = 0; y < gh; ++y) {
    for (int x = 0; x < gw; ++x) grid.at<float>(y, x) = static_cast<float>(random.uniform(low, high));
  }
  cv::Mat field;
  cv::resize(grid, field, size, 0, 0, cv::INTER_CUBIC);
  return field;
}

cv::Scalar randomColour(Random& random) {
  // Strong colours and greys, so that edges differ in both hue and brightness.
  static const cv::Scalar kPalette[] = {{40, 40, 200},  {40, 170, 230}, {60, 190, 60},   {200, 120, 40},
                                        {180, 60, 160}, {30, 30, 30},   {240, 240, 240}, {120, 200, 220},
                                        {90, 60, 30},   {200, 200, 80}};
  const cv::Scalar base = kPalette[random.below(10)];
  const double shade = random.uniform(0.75, 1.15);
  return {std::min(255.0, base[0] * shade), std::min(255.0, base[1] * shade),
          std::min(255.0, base[2] * shade)};
}

void drawShapes(cv::Mat& image, Random& random) {
  const int w = image.cols;
  const int h = image.rows;
  const int count = std::max(4, w * h / 1200);
  for (int i = 0; i < count; ++i) {
    const cv::Point centre(random.below(w), random.below(h));
    const cv::Scalar colour = randomColour(random);
    switch (random.below(5)) {
      case 0:
        cv::circle(image, centre, 2 + random.below(14), colour, cv::FILLED, cv::LINE_AA);
        break;
      case 1:
        cv::circle(image, centre, 4 + random.below(20), colour, 1 + random.below(3), cv::LINE_AA);
        break;
      case 2: {
        const cv::Point corner = centre + cv::Point(4 + random.below(30), 4 + random.below(24));
        cv::rectangle(image, centre, corner, colour, random.below(2) == 0 ? cv::FILLED : 2, cv::LINE_AA);
        break;
      }
      case 3: {
        const double angle = random.uniform(0.0, 3.14159265);
        const double length = 10 + random.below(50);
        const cv::Point end = centre + cv::Point(static_cast<int>(length * std::cos(angle)),
                                                 static_cast<int>(length * std::sin(angle)));
        cv::line(image, centre, end, colour, 1 + random.below(4), cv::LINE_AA);
        break;
      }
      default: {
        // A few parallel stripes: a fine, regular pattern.
        const int pitch = 3 + random.below(4);
        const int length = 12 + random.below(24);
        for (int s = 0; s < 5; ++s) {
          const cv::Point from = centre + cv::Point(s * pitch, 0);
          cv::line(image, from, from + cv::Point(0, length), colour, 1 + pitch / 3, cv::LINE_AA);
        }
      }
    }
  }
  // A checkerboard and some lettering: sharp edges at known scales.
  const int square = 4 + random.below(3);
  const cv::Point board(random.below(std::max(1, w - 8 * square)), random.below(std::max(1, h - 6 * square)));
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const cv::Point corner = board + cv::Point(x * square, y * square);
      const int value = (x + y) % 2 == 0 ? 20 : 235;
      cv::rectangle(image, corner, corner + cv::Point(square - 1, square - 1), cv::Scalar::all(value),
                    cv::FILLED);
    }
  }
  const int words = std::max(2, w * h / 15000);
  for (int i = 0; i < words; ++i) {
    const cv::Point origin(random.below(std::max(1, w - 60)), 20 + random.below(std::max(1, h - 20)));
    cv::putText(image, "plenoview", origin, cv::FONT_HERSHEY_SIMPLEX, random.uniform(0.45, 1.1),
                randomColour(random), 1 + random.below(2), cv::LINE_AA);
  }
}

}  // namespace

cv::Mat drawSceneTexture(cv::Size size, bool colour, std::uint32_t seed) {
  Random random(seed, 1);
  // Colour clouds: each channel its own slow field.
  std::vector<cv::Mat> channels;
  for (int c = 0; c < 3; ++c) channels.push_back(valueNoise(size, 90.0, 50.0, 210.0, random));
  // Luminance detail at several scales, added to every channel.
  const double cells[] = {32.0, 16.0, 8.0};
  const double amplitudes[] = {30.0, 24.0, 12.0};
  cv::Mat detail = cv::Mat::zeros(size, CV_32FC1);
  for (int i = 0; i < 3; ++i) detail += valueNoise(size, cells[i], -amplitudes[i], amplitudes[i], random);
  for (cv::Mat& channel : channels) channel += detail;
  cv::Mat merged;
  cv::merge(channels, merged);
  cv::Mat image;
  merged.convertTo(image, CV_8UC3);
  drawShapes(image, random);
  // Nothing finer than about a pixel and a half: the views cannot hold more.
  cv::GaussianBlur(image, image, cv::Size(0, 0), 0.6, 0.6, cv::BORDER_REPLICATE);
  if (!colour) cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
  return image;
}

SceneTexture::SceneTexture(SceneKind kind, bool colour, cv::Size size, std::uint32_t seed, double maxSigma) {
  if (kind == SceneKind::kWhite) {
    raster_ = cv::Mat(size, colour ? CV_8UC3 : CV_8UC1, cv::Scalar::all(kWhiteLevel));
  } else {
    raster_ = drawSceneTexture(size, colour, seed);
  }
  cv::Mat sharp;
  raster_.convertTo(sharp, CV_32F);
  sigmas_.push_back(0.0);
  levels_.push_back(sharp);
  for (double sigma = 0.5; sigmas_.back() < maxSigma; sigma *= std::sqrt(2.0)) {
    cv::Mat blurred;
    cv::GaussianBlur(sharp, blurred, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
    sigmas_.push_back(sigma);
    levels_.push_back(blurred);
  }
}

void SceneTexture::sample(double x, double y, double sigma, double out[3]) const {
  const int n = channels();
  // Bilinear read of one level, edge pixels repeated.
  const auto read = [&](const cv::Mat& level, double* values) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const double ax = x - fx;
    const double ay = y - fy;
    const auto clampTo = [](double v, int last) {
      return static_cast<int>(std::min<double>(std::max(v, 0.0), last));
    };
    const int x0 = clampTo(fx, level.cols - 1);
    const int x1 = clampTo(fx + 1, level.cols - 1);
    const int y0 = clampTo(fy, level.rows - 1);
    const int y1 = clampTo(fy + 1, level.rows - 1);
    const float* row0 = level.ptr<float>(y0);
    const float* row1 = level.ptr<float>(y1);
    for (int c = 0; c < n; ++c) {
      const double top = row0[x0 * n + c] * (1.0 - ax) + row0[x1 * n + c] * ax;
      const double bottom = row1[x0 * n + c] * (1.0 - ax) + row1[x1 * n + c] * ax;
      values[c] = top * (1.0 - ay) + bottom * ay;
    }
  };
  if (sigma <= 0.0) {
    read(levels_[0], out);
    return;
  }
  size_t upper = 1;
  while (upper < sigmas_.size() && sigmas_[upper] < sigma) ++upper;
  if (upper == sigmas_.size()) {
    read(levels_.back(), out);
    return;
  }
  // Between two prepared blurs, linearly in sigma.
  double low[3], high[3];
  read(levels_[upper - 1], low);
  read(levels_[upper], high);
  const double a = (sigma - sigmas_[upper - 1]) / (sigmas_[upper] - sigmas_[upper - 1]);
  for (int c = 0; c < n; ++c) out[c] = low[c] * (1.0 - a) + high[c] * a;
}

}  // namespace plenoview::synth
