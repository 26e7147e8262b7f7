#include "tools/view/patch_size_pictures.h"

#include "base/plenoview_error.h"
#include "io/patch_size_files.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

namespace plenoview::view {

namespace {

// Sizes low .. high as colour-map entries, 8-bit, the same shape.
cv::Mat mapEntries(const cv::Mat& sizes, int low, int high) {
  cv::Mat entries(sizes.size(), CV_8UC1);
  for (int r = 0; r < sizes.rows; ++r) {
    for (int c = 0; c < sizes.cols; ++c) {
      const int s = sizes.at<uchar>(r, c);
      entries.at<uchar>(r, c) =
          static_cast<uchar>(high == low ? 0 : (s - low) * 255 / (high - low));
    }
  }
  return entries;
}

cv::Mat falseColour(const cv::Mat& sizes, int low, int high) {
  cv::Mat colour;
  cv::applyColorMap(mapEntries(sizes, low, high), colour, cv::COLORMAP_VIRIDIS);
  return colour;
}

}  // namespace

PatchSizePictures readPatchSizePictures(const std::string& folder, const std::vector<int>& frames) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    throw PlenoviewError("--patch-sizes \"" + folder + "\" is not a folder");
  }
  // The first file gives the lens grid; when it cannot be read, load() below
  // says why.
  cv::Mat first;
  try {
    first =
        cv::imread((std::filesystem::path(folder) / patchSizeFileName(frames.at(0), 0)).string(),
                   cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    first.release();
  }
  const PatchSizeFiles files(folder, first.size());

  std::vector<PatchSizes> sizes;
  int low = std::numeric_limits<int>::max();
  int high = 0;
  for (int frame : frames) {
    sizes.push_back(files.load(frame));
    for (const cv::Mat& type : sizes.back()) {
      double typeLow = 0;
      double typeHigh = 0;
      cv::minMaxLoc(type, &typeLow, &typeHigh);
      low = std::min(low, static_cast<int>(typeLow));
      high = std::max(high, static_cast<int>(typeHigh));
    }
  }

  PatchSizePictures pictures;
  pictures.low = low;
  pictures.high = high;
  for (const PatchSizes& frame : sizes) {
    std::array<cv::Mat, kLensTypes> coloured;
    for (int type = 0; type < kLensTypes; ++type) {
      coloured[type] = falseColour(frame[type], low, high);
    }
    pictures.frames.push_back(coloured);
  }
  cv::Mat range(1, high - low + 1, CV_8UC1);
  for (int i = 0; i < range.cols; ++i) range.at<uchar>(0, i) = static_cast<uchar>(low + i);
  pictures.scale = falseColour(range, low, high);
  return pictures;
}

}  // namespace plenoview::view
