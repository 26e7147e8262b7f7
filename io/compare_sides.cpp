#include "io/compare_sides.h"

#include "base/parallel_work.h"
#include "base/plenoview_error.h"
#include "io/video_source.h"
#include "io/view_folder.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace plenoview {

namespace {

constexpr double kNotMeasured = std::numeric_limits<double>::quiet_NaN();

// Samples a parallel strip of a lenslet frame's plane takes.
constexpr size_t kStripSamples = 1 << 20;

std::string sizeText(cv::Size size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

// One side as the user gave it: a view folder or a lenslet video file.
struct Side {
  std::string label;  // REF "path", for messages naming both sides
  std::optional<ViewFolder> folder;
  std::unique_ptr<VideoFrameSource> video;
};

bool hasVideoExtension(const std::string& path) {
  std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".yuv" || tail == ".y4m";
}

Side openSide(const std::string& role, const std::string& path, const RawVideoOptions& raw) {
  Side side;
  side.label = role + " \"" + path + "\"";
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    throw PlenoviewError("cannot open " + side.label + ": " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    side.folder.emplace(path);
    return side;
  }
  if (!hasVideoExtension(path)) {
    throw PlenoviewError(side.label +
                         " is neither a folder of views nor a lenslet video (.yuv or .y4m)");
  }
  // A FIFO or a device would be read forever or block: only files, whose
  // frames can be counted before any is compared.
  if (!S_ISREG(status.st_mode)) throw PlenoviewError(side.label + " is not a regular file");
  std::string escaped;  // the video reader takes "%%" for '%'
  for (char c : path) escaped += c == '%' ? std::string("%%") : std::string(1, c);
  side.video = std::make_unique<VideoFrameSource>(escaped, raw);
  return side;
}

// Squared differences of count samples from `from` on, in strips of their
// own on the worker threads when called outside a parallel loop. Exact: one
// sample adds at most 65535^2, a strip under 2^52.
template <typename T>
std::uint64_t squaredErrors(const cv::Mat& a, const cv::Mat& b, size_t from, size_t count) {
  const T* pa = reinterpret_cast<const T*>(a.data) + from;
  const T* pb = reinterpret_cast<const T*>(b.data) + from;
  const int strips = static_cast<int>((count + kStripSamples - 1) / kStripSamples);
  std::vector<std::uint64_t> sums(strips, 0);
  parallelForEach(strips, [&](int s) {
    const size_t begin = s * kStripSamples;
    const size_t end = std::min(count, begin + kStripSamples);
    std::uint64_t sum = 0;
    for (size_t i = begin; i < end; ++i) {
      const std::int64_t d = static_cast<std::int64_t>(pa[i]) - pb[i];
      sum += static_cast<std::uint64_t>(d * d);
    }
    sums[s] = sum;
  });
  std::uint64_t total = 0;
  for (std::uint64_t sum : sums) total += sum;
  return total;
}

// Sums of squared errors per plane over the frames seen so far.
struct PlaneSums {
  long double sum[3] = {0, 0, 0};  // exact far beyond what 8- and 10-bit frames add up to
  long long frames = 0;
};

// Adds one frame: the planes of both sides, I420 of `size` (the Y plane
// alone when !chroma, and then either side may hold more rows).
void addFrame(const cv::Mat& a, const cv::Mat& b, cv::Size size, bool chroma, PlaneSums& sums) {
  CV_Assert(a.type() == b.type() && a.isContinuous() && b.isContinuous());
  const size_t luma = static_cast<size_t>(size.width) * size.height;
  const size_t chromaSamples = luma / 4;
  const size_t from[3] = {0, luma, luma + chromaSamples};
  const size_t count[3] = {luma, chromaSamples, chromaSamples};
  for (int p = 0; p < (chroma ? 3 : 1); ++p) {
    sums.sum[p] += a.depth() == CV_8U ? squaredErrors<std::uint8_t>(a, b, from[p], count[p])
                                      : squaredErrors<std::uint16_t>(a, b, from[p], count[p]);
  }
  ++sums.frames;
}

PlaneScores scoresOf(const std::string& name, const PlaneSums& sums, cv::Size size, bool chroma,
                     int peak) {
  PlaneScores scores;
  scores.name = name;
  const double luma = static_cast<double>(size.width) * size.height;
  const double samples[3] = {luma, luma / 4, luma / 4};
  for (int p = 0; p < 3; ++p) {
    scores.mse[p] = p == 0 || chroma ? static_cast<double>(sums.sum[p] / (samples[p] * sums.frames))
                                     : kNotMeasured;
    scores.psnr[p] = psnrFromMse(scores.mse[p], peak);
  }
  scores.psnrYuv = yuvPsnr(scores.psnr);
  return scores;
}

std::string framesText(long long count) {
  return std::to_string(count) + (count == 1 ? " frame" : " frames");
}

Comparison compareFolders(const Side& ref, const Side& test) {
  const ViewFolder& a = *ref.folder;
  const ViewFolder& b = *test.folder;
  const int n = a.viewNum();
  if (b.viewNum() != n) {
    throw PlenoviewError(ref.label + " has " + std::to_string(n) + " x " + std::to_string(n) +
                         " views, " + test.label + " " + std::to_string(b.viewNum()) + " x " +
                         std::to_string(b.viewNum()));
  }
  // Two PNG folders hold the views' own sizes; otherwise the sizes of the
  // planes (PNG views padded to even, as the yuv output pads them) pair.
  const bool bothPng = a.format() == ViewFileFormat::kPng && b.format() == ViewFileFormat::kPng;
  const cv::Size sizeA = bothPng ? a.viewSize() : a.planeSize();
  const cv::Size sizeB = bothPng ? b.viewSize() : b.planeSize();
  if (sizeA != sizeB) {
    throw PlenoviewError(ref.label + " has views of " + sizeText(sizeA) + ", " + test.label +
                         " of " + sizeText(sizeB));
  }
  if (a.bitDepth() != b.bitDepth()) {
    throw PlenoviewError(ref.label + " has " + std::to_string(a.bitDepth()) + "-bit views, " +
                         test.label + " " + std::to_string(b.bitDepth()) + "-bit");
  }
  if (a.frames() != b.frames()) {
    const std::vector<int>& fa = a.frames();
    const std::vector<int>& fb = b.frames();
    const auto [ia, ib] = std::mismatch(fa.begin(), fa.end(), fb.begin(), fb.end());
    const bool onlyInA = ib == fb.end() || (ia != fa.end() && *ia < *ib);
    throw PlenoviewError("frame " + std::to_string(onlyInA ? *ia : *ib) + " is in " +
                         (onlyInA ? ref.label : test.label) + " but not in " +
                         (onlyInA ? test.label : ref.label) + " (" + framesText(fa.size()) +
                         " and " + framesText(fb.size()) + ")");
  }

  Comparison comparison;
  comparison.chroma = !a.grey() && !b.grey();
  comparison.peak = (1 << a.bitDepth()) - 1;
  comparison.frames = static_cast<int>(a.frames().size());
  const cv::Size planes = a.planeSize();
  std::vector<PlaneSums> sums(n * n);
  // Views in parallel, each read frame by frame from its own files; after a
  // failure the views not yet begun are left alone.
  std::atomic<bool> failed{false};
  parallelForEach(n * n, [&](int i) {
    if (failed) return;
    try {
      ViewFolder::Reader readerA = a.reader(i / n, i % n);
      ViewFolder::Reader readerB = b.reader(i / n, i % n);
      cv::Mat planesA;
      cv::Mat planesB;
      for (int frame : a.frames()) {
        if (failed) return;
        readerA.planes(frame, planesA);
        readerB.planes(frame, planesB);
        addFrame(planesA, planesB, planes, comparison.chroma, sums[i]);
      }
    } catch (...) {
      failed = true;
      throw;
    }
  });
  for (int i = 0; i < n * n; ++i) {
    comparison.views.push_back(scoresOf(ViewFolder::viewName(i / n, i % n), sums[i], planes,
                                        comparison.chroma, comparison.peak));
  }
  comparison.total = meanScores(comparison.views);
  return comparison;
}

Comparison compareVideos(const Side& ref, const Side& test) {
  VideoFrameSource& a = *ref.video;
  VideoFrameSource& b = *test.video;
  const VideoFormat& fa = a.format();
  const VideoFormat& fb = b.format();
  if (fa.size != fb.size || fa.bitDepth != fb.bitDepth) {
    throw PlenoviewError(ref.label + " is " + fa.describe() + ", " + test.label + " " +
                         fb.describe());
  }
  if (a.frameCount() != b.frameCount()) {
    throw PlenoviewError(ref.label + " holds " + framesText(a.frameCount()) + ", " + test.label +
                         " " + std::to_string(b.frameCount()));
  }
  Comparison comparison;
  comparison.lenslet = true;
  comparison.chroma = !fa.mono && !fb.mono;
  comparison.peak = (1 << fa.bitDepth) - 1;
  comparison.frames = static_cast<int>(a.frameCount());
  PlaneSums sums;
  cv::Mat planes[2];
  for (int k = 0; k < comparison.frames; ++k) {
    parallelForEach(2, [&](int s) { (s == 0 ? a : b).samples(k, planes[s]); });
    addFrame(planes[0], planes[1], fa.size, comparison.chroma, sums);
  }
  comparison.total = scoresOf("lenslet", sums, fa.size, comparison.chroma, comparison.peak);
  return comparison;
}

}  // namespace

double psnrFromMse(double mse, int peak) {
  if (mse == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(static_cast<double>(peak) * peak / mse);
}

double yuvPsnr(const double (&psnr)[3]) { return (6 * psnr[0] + psnr[1] + psnr[2]) / 8; }

PlaneScores meanScores(const std::vector<PlaneScores>& views) {
  CV_Assert(!views.empty());
  PlaneScores mean{"mean", {0, 0, 0}, {0, 0, 0}, 0};
  for (const PlaneScores& view : views) {
    for (int p = 0; p < 3; ++p) {
      mean.mse[p] += view.mse[p];
      mean.psnr[p] += view.psnr[p];
    }
    mean.psnrYuv += view.psnrYuv;
  }
  const double count = static_cast<double>(views.size());
  for (int p = 0; p < 3; ++p) {
    mean.mse[p] /= count;
    mean.psnr[p] /= count;
  }
  mean.psnrYuv /= count;
  return mean;
}

Comparison compareSides(const std::string& ref, const std::string& test,
                        const RawVideoOptions& raw) {
  const Side a = openSide("REF", ref, raw);
  const Side b = openSide("TEST", test, raw);
  if (a.folder.has_value() != b.folder.has_value()) {
    throw PlenoviewError(a.label + " is " + (a.folder ? "a view folder" : "a lenslet video") +
                         " and " + b.label + " " +
                         (b.folder ? "a view folder" : "a lenslet video") +
                         "; compare two view folders or two lenslet videos");
  }
  return a.folder ? compareFolders(a, b) : compareVideos(a, b);
}

}  // namespace plenoview
