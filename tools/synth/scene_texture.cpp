#include "tools/synth/scene_texture.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace plenoview::synth {

namespace {

// Uniform numbers from the standard engine, whose sequence is fixed by the
// C++ standard (the library's distributions are not), so a seed gives the
// same texture everywhere.
class Random {
 public:
  Random(std::uint32_t seed, std::uint32_t stream, int x = 0, int y = 0) {
    std::seed_seq sequence{seed, stream, static_cast<std::uint32_t>(x),
                           static_cast<std::uint32_t>(y)};
    engine_.seed(sequence);
  }
  double uniform(double low, double high) {
    return low + (high - low) * (engine_() / 4294967296.0);
  }
  int below(int n) { return static_cast<int>(uniform(0.0, n)); }

 private:
  std::mt19937 engine_;
};

std::uint64_t mix(std::uint64_t z) {
  // splitmix64's finaliser: every input bit reaches every output bit.
  z += 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A number in [0, 1) fixed by the seed, a field and a lattice point.
double latticeValue(std::uint32_t seed, std::uint32_t field, int i, int j) {
  std::uint64_t z = mix(seed);
  z = mix(z ^ field);
  z = mix(z ^ static_cast<std::uint32_t>(i));
  z = mix(z ^ static_cast<std::uint32_t>(j));
  return (z >> 11) * (1.0 / 9007199254740992.0);
}

// Catmull-Rom weights for the four lattice values around fraction t.
void cubicWeights(double t, double w[4]) {
  const double t2 = t * t;
  const double t3 = t2 * t;
  w[0] = 0.5 * (-t3 + 2 * t2 - t);
  w[1] = 0.5 * (3 * t3 - 5 * t2 + 2);
  w[2] = 0.5 * (-3 * t3 + 4 * t2 + t);
  w[3] = 0.5 * (t3 - t2);
}

// Smooth random field with features about `cell` pixels across, added to
// `field` (float, one channel) over `area` of texture coordinates. Its values
// sit on a lattice anchored at texture point (0, 0), so any part of the plane
// gets the same values whatever area is drawn.
void addValueNoise(cv::Mat& field, cv::Rect area, std::uint32_t seed, std::uint32_t id, double cell,
                   double low, double high) {
  for (int y = 0; y < area.height; ++y) {
    const double fy = (area.y + y) / cell;
    const int j = static_cast<int>(std::floor(fy));
    double wy[4];
    cubicWeights(fy - j, wy);
    float* row = field.ptr<float>(y);
    for (int x = 0; x < area.width; ++x) {
      const double fx = (area.x + x) / cell;
      const int i = static_cast<int>(std::floor(fx));
      double wx[4];
      cubicWeights(fx - i, wx);
      double sum = 0.0;
      for (int b = 0; b < 4; ++b) {
        double line = 0.0;
        for (int a = 0; a < 4; ++a) line += wx[a] * latticeValue(seed, id, i - 1 + a, j - 1 + b);
        sum += wy[b] * line;
      }
      row[x] += static_cast<float>(low + (high - low) * sum);
    }
  }
}

cv::Scalar randomColour(Random& random) {
  // Strong colours and greys, so that edges differ in both hue and brightness.
  static const cv::Scalar kPalette[] = {
      {40, 40, 200}, {40, 170, 230},  {60, 190, 60},   {200, 120, 40}, {180, 60, 160},
      {30, 30, 30},  {240, 240, 240}, {120, 200, 220}, {90, 60, 30},   {200, 200, 80}};
  const cv::Scalar base = kPalette[random.below(10)];
  const double shade = random.uniform(0.75, 1.15);
  return {std::min(255.0, base[0] * shade), std::min(255.0, base[1] * shade),
          std::min(255.0, base[2] * shade)};
}

// Shapes are scattered tile by tile, each tile drawing from its own random
// stream, so that the shapes of a part of the plane do not depend on how much
// of it is drawn. A shape reaches at most kShapeReach beyond its tile.
constexpr int kShapeTile = 48;
constexpr int kShapeReach = 64;
constexpr int kWordTileWidth = 160;
constexpr int kWordTileHeight = 120;
constexpr int kWordReach = 240;

void drawShape(cv::Mat& image, cv::Point centre, Random& random) {
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
      cv::rectangle(image, centre, corner, colour, random.below(2) == 0 ? cv::FILLED : 2,
                    cv::LINE_AA);
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

// Lettering and checkerboards: sharp edges at known scales, in larger tiles.
void drawMark(cv::Mat& image, cv::Point corner, Random& random) {
  if (random.below(3) == 0) {
    const int square = 4 + random.below(3);
    const cv::Point board =
        corner + cv::Point(random.below(kWordTileWidth), random.below(kWordTileHeight));
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) {
        const cv::Point at = board + cv::Point(x * square, y * square);
        const int value = (x + y) % 2 == 0 ? 20 : 235;
        cv::rectangle(image, at, at + cv::Point(square - 1, square - 1), cv::Scalar::all(value),
                      cv::FILLED);
      }
    }
  }
  const cv::Point origin =
      corner + cv::Point(random.below(kWordTileWidth), random.below(kWordTileHeight));
  cv::putText(image, "plenoview", origin, cv::FONT_HERSHEY_SIMPLEX, random.uniform(0.45, 1.1),
              randomColour(random), 1 + random.below(2), cv::LINE_AA);
}

// Calls draw(tile corner in raster pixels, stream) for every tile of
// `tileSize` whose content can reach `area`, in one fixed order of the plane.
template <typename Draw>
void forEachTile(cv::Rect area, cv::Size tileSize, int reach, Draw draw) {
  const auto first = [](int from, int size) {
    return static_cast<int>(std::floor(static_cast<double>(from) / size));
  };
  for (int ty = first(area.y - reach, tileSize.height);
       ty <= first(area.br().y + reach, tileSize.height); ++ty) {
    for (int tx = first(area.x - reach, tileSize.width);
         tx <= first(area.br().x + reach, tileSize.width); ++tx) {
      draw(cv::Point(tx * tileSize.width - area.x, ty * tileSize.height - area.y), tx, ty);
    }
  }
}

}  // namespace

cv::Mat drawSceneTexture(cv::Rect area, bool colour, std::uint32_t seed) {
  // Colour clouds, each channel its own slow field, and luminance detail at
  // several scales added to every channel.
  cv::Mat detail = cv::Mat::zeros(area.size(), CV_32FC1);
  const double cells[] = {32.0, 16.0, 8.0};
  const double amplitudes[] = {30.0, 24.0, 12.0};
  for (int i = 0; i < 3; ++i)
    addValueNoise(detail, area, seed, 20 + i, cells[i], -amplitudes[i], amplitudes[i]);
  std::vector<cv::Mat> channels;
  for (int c = 0; c < 3; ++c) {
    cv::Mat channel = detail.clone();
    addValueNoise(channel, area, seed, 10 + c, 90.0, 50.0, 210.0);
    channels.push_back(channel);
  }
  cv::Mat merged;
  cv::merge(channels, merged);
  cv::Mat image;
  merged.convertTo(image, CV_8UC3);

  forEachTile(
      area, cv::Size(kShapeTile, kShapeTile), kShapeReach, [&](cv::Point corner, int tx, int ty) {
        Random random(seed, 1, tx, ty);
        const int count = 1 + random.below(3);
        for (int i = 0; i < count; ++i) {
          drawShape(image, corner + cv::Point(random.below(kShapeTile), random.below(kShapeTile)),
                    random);
        }
      });
  forEachTile(area, cv::Size(kWordTileWidth, kWordTileHeight), kWordReach,
              [&](cv::Point corner, int tx, int ty) {
                Random random(seed, 2, tx, ty);
                drawMark(image, corner, random);
              });
  // Nothing finer than about a pixel and a half: the views cannot hold more.
  cv::GaussianBlur(image, image, cv::Size(0, 0), 0.6, 0.6, cv::BORDER_REPLICATE);
  if (!colour) cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
  return image;
}

SceneTexture::SceneTexture(SceneKind kind, bool colour, cv::Rect area, std::uint32_t seed,
                           double maxSigma) {
  if (kind == SceneKind::kWhite) {
    raster_ = cv::Mat(area.size(), colour ? CV_8UC3 : CV_8UC1, cv::Scalar::all(kWhiteLevel));
  } else {
    raster_ = drawSceneTexture(area, colour, seed);
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
