#include "tools/quality/quality_measures.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "pipeline/crop_and_orient_views.h"
#include "pipeline/frame_pipeline.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace plenoview::quality {

namespace {

cv::Mat readImage(const std::string& path) {
  // Checked first: OpenCV would warn about a missing file on its own.
  if (!std::filesystem::is_regular_file(path)) throw PlenoviewError("cannot read \"" + path + "\"");
  const cv::Mat image = cv::imread(path, cv::IMREAD_UNCHANGED);
  if (image.empty()) throw PlenoviewError("cannot read \"" + path + "\"");
  return image;
}

std::string truthName(const char* format, int frame, int type = 0) {
  char name[64];
  std::snprintf(name, sizeof name, format, frame, type);
  return name;
}

// The values after `key` on its line of scene.txt.
std::istringstream sceneValues(const std::string& scene, const std::string& key,
                               const std::string& path) {
  std::istringstream lines(scene);
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, key.size() + 1, key + " ") == 0) {
      return std::istringstream(line.substr(key.size() + 1));
    }
  }
  throw PlenoviewError("\"" + path + "\" has no line \"" + key + "\"");
}

double centreOf(double lens, double reference, double g) {
  return (lens - reference) * g + reference;
}

}  // namespace

GeneratedSet readGeneratedSet(const std::string& folder, const std::string& pattern) {
  GeneratedSet set;
  const std::string scenePath = folder + "/truth/scene.txt";
  std::ifstream sceneFile(scenePath, std::ios::binary);
  if (!sceneFile) throw PlenoviewError("cannot read \"" + scenePath + "\"");
  std::stringstream text;
  text << sceneFile.rdbuf();
  const std::string scene = text.str();

  int frames = 0;
  if (!(sceneValues(scene, "frames", scenePath) >> frames) ||
      !(sceneValues(scene, "views", scenePath) >> set.views)) {
    throw PlenoviewError("\"" + scenePath + "\": frames or views is not a number");
  }
  for (int type = 0; type < kLensTypes; ++type) {
    std::istringstream values = sceneValues(scene, "type_shift " + std::to_string(type), scenePath);
    if (!(values >> set.typeShift[type])) {
      throw PlenoviewError("\"" + scenePath + "\": type_shift " + std::to_string(type) +
                           " is not a number");
    }
  }

  for (int f = 0; f < frames; ++f) {
    set.frames.push_back(readImage(folder + "/" + formatPath(pattern, f)));
    set.textures.push_back(readImage(folder + "/truth/" + truthName("texture_f%04d.png", f)));
    PatchSizes sizes;
    for (int type = 0; type < kLensTypes; ++type) {
      sizes[type] = readImage(folder + "/truth/" + truthName("patch_size_f%04d_t%d.png", f, type));
    }
    set.truePatchSizes.push_back(sizes);
  }
  if (set.frames.empty()) throw PlenoviewError("\"" + scenePath + "\" lists no frames");
  readCalibration(set.calib, set.frames[0], folder + "/calib.xml");
  return set;
}

void SquaredError::add(const cv::Mat& image, const cv::Mat& reference, const cv::Rect& region) {
  CV_Assert(image.depth() == CV_8U && reference.depth() == CV_64F);
  CV_Assert(image.size() == reference.size() && image.channels() == reference.channels());
  const cv::Rect inside = region & cv::Rect(cv::Point(0, 0), image.size());
  const int n = image.channels();
  for (int y = inside.y; y < inside.y + inside.height; ++y) {
    const uchar* a = image.ptr<uchar>(y);
    const double* b = reference.ptr<double>(y);
    for (int i = inside.x * n; i < (inside.x + inside.width) * n; ++i) {
      const double d = a[i] - b[i];
      sum += d * d;
    }
  }
  samples += static_cast<long long>(inside.area()) * n;
}

double SquaredError::psnr() const {
  if (samples == 0) return std::numeric_limits<double>::quiet_NaN();
  if (sum == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / (sum / samples));
}

cv::Mat shiftedTexture(const cv::Mat& texture, double shift) {
  CV_Assert(texture.depth() == CV_8U);
  const int n = texture.channels();
  const int last = texture.cols - 1;
  cv::Mat result(texture.size(), CV_MAKETYPE(CV_64F, n));
  for (int x = 0; x < texture.cols; ++x) {
    const double u = std::clamp(x + shift, 0.0, static_cast<double>(last));
    const int x0 = static_cast<int>(std::floor(u));
    const int x1 = std::min(x0 + 1, last);
    const double a = u - x0;
    for (int y = 0; y < texture.rows; ++y) {
      const uchar* in = texture.ptr<uchar>(y);
      double* out = result.ptr<double>(y);
      for (int c = 0; c < n; ++c) out[x * n + c] = in[x0 * n + c] * (1 - a) + in[x1 * n + c] * a;
    }
  }
  return result;
}

cv::Rect coveredInterior(const MultiViewRenderer& renderer, int type, double shift) {
  const LensCalibration& c = renderer.calib;
  if (c.num.x < 1 || c.num.y < 1) return cv::Rect();
  // Lens centres in the centre view: the lens position in the frame padded by
  // the view border N / 2, the grid shrunk by g about the type's even-row
  // reference lens.
  const double border = renderer.centerView.x;
  const double g = (c.radius - renderer.lensMargin) / c.diameter;
  const cv::Point2d ref = c.subGridRefPos[0][type];
  double left = -std::numeric_limits<double>::infinity();
  double right = std::numeric_limits<double>::infinity();
  for (int row = 0; row < std::min(2, c.num.y); ++row) {
    const double first = lensCentre(c, type, row, 0).x + border;
    const double last = lensCentre(c, type, row, c.num.x - 1).x + border;
    left = std::max(left, centreOf(first, ref.x, g));
    right = std::min(right, centreOf(last, ref.x, g));
  }
  const double top = centreOf(lensCentre(c, type, 0, 0).y + border, ref.y, g);
  const double bottom = centreOf(lensCentre(c, type, c.num.y - 1, 0).y + border, ref.y, g);

  const cv::Size view = renderer.viewSize;
  const int x0 = std::max(
      {static_cast<int>(std::ceil(left + c.radius)), static_cast<int>(std::ceil(-shift)), 0});
  const int x1 = std::min({static_cast<int>(std::floor(right - c.radius)),
                           static_cast<int>(std::floor(view.width - 1 - shift)), view.width - 1});
  const int y0 = std::max(static_cast<int>(std::ceil(top + c.radius)), 0);
  const int y1 = std::min(static_cast<int>(std::floor(bottom - c.radius)), view.height - 1);
  if (x1 < x0 || y1 < y0) return cv::Rect();
  return cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
}

bool interiorLens(const LensCalibration& calib, int row, int column) {
  return row >= 1 && row <= calib.num.y - 2 && column >= 1 && column <= calib.num.x - 2;
}

void countEstimates(const LensCalibration& calib, const cv::Mat& estimated, const cv::Mat& truth,
                    int step, SizeTable& table) {
  CV_Assert(estimated.type() == CV_8UC1 && truth.type() == CV_8UC1);
  CV_Assert(estimated.size() == cv::Size(calib.num.x, calib.num.y) &&
            truth.size() == estimated.size());
  for (int row = 0; row < calib.num.y; ++row) {
    for (int column = 0; column < calib.num.x; ++column) {
      if (!interiorLens(calib, row, column)) continue;
      const int want = truth.at<uchar>(row, column);
      const int got = estimated.at<uchar>(row, column);
      SizeCount& count = table[want];
      ++count.lenses;
      if (got == want) ++count.exact;
      if (std::abs(got - want) <= step) ++count.withinOneStep;
    }
  }
}

TrueSizeQuality measureTrueSizeViews(const GeneratedSet& set) {
  MultiViewRenderer renderer(set.calib, set.views);
  FramePipeline pipeline(renderer);
  const cv::Point c = renderer.centerView;
  TrueSizeQuality result;
  for (size_t f = 0; f < set.frames.size(); ++f) {
    pipeline.renderLensTypeViews(set.frames[f], set.truePatchSizes[f]);
    for (int type = 0; type < kLensTypes; ++type) {
      result.region[type] = coveredInterior(renderer, type, set.typeShift[type]);
      result.type[type].add(pipeline.images().multiViewImage[type][c.x][c.y],
                            shiftedTexture(set.textures[f], set.typeShift[type]),
                            result.region[type]);
    }
  }
  return result;
}

EstimationQuality measureEstimation(const GeneratedSet& set) {
  MultiViewRenderer renderer(set.calib, set.views);
  FramePipeline pipeline(renderer);
  const cv::Point c = renderer.centerView;
  EstimationQuality result;
  ViewGrid views;
  for (size_t f = 0; f < set.frames.size(); ++f) {
    pipeline.processFrame(set.frames[f], views);
    for (int type = 0; type < kLensTypes; ++type) {
      countEstimates(set.calib, renderer.patchSize[type], set.truePatchSizes[f][type],
                     renderer.patchSizeStep, result.type[type]);
    }
    // The texture under the views' own crop and turn.
    cv::Mat texture = set.textures[f];
    cv::Mat turned;
    renderer.cropAndOrientView(texture, turned);
    cv::Mat reference;
    texture.convertTo(reference, CV_64F);
    const cv::Mat& view = views[c.x][c.y];
    result.blended.add(view, reference, cv::Rect(cv::Point(0, 0), view.size()));
  }
  return result;
}

}  // namespace plenoview::quality
