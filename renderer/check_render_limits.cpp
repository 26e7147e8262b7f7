#include "base/plenoview_error.h"
#include "calibration/calibration_limits.h"
#include "renderer/render_limits.h"
#include "renderer/scale_level_windows.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace plenoview {

namespace {

// The side of a scaled copy as the frame preparation computes it: the int
// side times a single-precision factor, truncated. Kept as a float here so
// that an oversized side is seen before any conversion.
float scaledSide(long long side, float factor) { return static_cast<float>(side) * factor; }

// The factor of every scale level: lensMask width over the level's patch size.
std::vector<float> levelFactors(const MultiViewRenderer& renderer) {
  std::vector<float> factors;
  for (const int s : scaleLevelPatchSizes(renderer.candidatePatchSizes, renderer.lensMargin,
                                          renderer.patchSizeStep)) {
    factors.push_back(static_cast<float>(renderer.lensMask.cols) / static_cast<float>(s));
  }
  return factors;
}

std::string sizeText(cv::Size size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

// GiB with three significant digits: "23.5", "64".
std::string gibText(double bytes) {
  std::ostringstream text;
  text.precision(3);
  text << bytes / (1024.0 * 1024 * 1024);
  return text.str();
}

}  // namespace

double memoryBudgetBytes() {
  double budget = kMemoryBudgetBytes;
  // The machine's RAM: "MemTotal:   24683772 kB".
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  double kib = 0;
  while (meminfo >> key >> kib) {
    if (key == "MemTotal:") {
      budget = std::min(budget, kib * 1024);
      break;
    }
    meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  // A control group's limit: a number of bytes, or "max".
  std::ifstream group("/sys/fs/cgroup/memory.max");
  double limit = 0;
  if (group >> limit && limit > 0) budget = std::min(budget, limit);
  return budget;
}

double frameMemoryEstimate(const MultiViewRenderer& renderer, cv::Size frameSize, bool colour) {
  const double c = colour ? 3 : 1;
  const long long border = renderer.centerView.x;
  const long long paddedWidth = frameSize.width + 2 * border;
  const long long paddedHeight = frameSize.height + 2 * border;
  double bytes = 4.0 * static_cast<double>(paddedWidth) * static_cast<double>(paddedHeight) * c;
  for (const float f : levelFactors(renderer)) {
    const double w = std::floor(scaledSide(paddedWidth, f));
    const double h = std::floor(scaledSide(paddedHeight, f));
    // Whole levels, or only the two int tables per column and row from
    // which each window is computed when it is cut.
    bytes += renderer.options.buildAllScaleLevels ? w * h * (colour ? c + 1 : 1) : (w + h) * 2 * 4;
  }
  const double view = static_cast<double>(renderer.viewSize.width) * renderer.viewSize.height;
  const double N = renderer.viewNum;
  bytes += view * N * N * 4 * c;
  bytes += view * 6;
  return bytes;
}

void checkRenderLimits(const MultiViewRenderer& renderer, cv::Size frameSize, bool colour,
                       const std::string& calibPath, double budgetBytes) {
  const std::string setting = "calibration file \"" + calibPath + "\" (RayCalibData.diameter " +
                              formatValue(renderer.calib.diameter) + ") with ViewNum " +
                              std::to_string(renderer.viewNum) + " and a " + sizeText(frameSize) +
                              " frame";
  const cv::Size view = renderer.viewSize;
  if (view.width < 1 || view.height < 1 || view.width > kMaxViewSide ||
      view.height > kMaxViewSide) {
    throw PlenoviewError(setting + " gives views of " + sizeText(view) +
                         " pixels; each side must lie in 1 .. 65535");
  }
  const long long border = renderer.centerView.x;
  for (const float f : levelFactors(renderer)) {
    if (scaledSide(frameSize.width + 2 * border, f) >= static_cast<float>(INT_MAX) ||
        scaledSide(frameSize.height + 2 * border, f) >= static_cast<float>(INT_MAX)) {
      throw PlenoviewError(setting + " would scale the frame beyond 2^31 pixels per side");
    }
  }
  const double bytes = frameMemoryEstimate(renderer, frameSize, colour);
  if (bytes > budgetBytes) {
    const double gib = 1024.0 * 1024 * 1024;
    throw PlenoviewError(setting + " would need about " + formatValue(std::ceil(bytes / gib)) +
                         " GiB of image memory per frame, more than the " + gibText(budgetBytes) +
                         " GiB allowed");
  }
}

}  // namespace plenoview
