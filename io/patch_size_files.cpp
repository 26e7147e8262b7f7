#include "io/patch_size_files.h"

#include "base/plenoview_error.h"
#include "io/atomic_write.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;

namespace plenoview {

std::string patchSizeFileName(int frameIndex, int type) {
  char name[128];
  std::snprintf(name, sizeof name, "PatchSizes_f%04d_t%d.png", frameIndex, type);
  return name;
}

PatchSizeFiles::PatchSizeFiles(std::string folder, cv::Size lenses)
    : folder_(std::move(folder)), lenses_(lenses) {}

void PatchSizeFiles::save(int frameIndex, const PatchSizes& sizes) const {
  std::error_code error;
  fs::create_directories(folder_, error);
  if (!fs::is_directory(folder_)) {
    throw PlenoviewError("cannot create the patch-size folder \"" + folder_ + "\"" +
                         (error ? ": " + error.message() : std::string()));
  }
  for (int type = 0; type < kLensTypes; ++type) {
    const std::string path = (fs::path(folder_) / patchSizeFileName(frameIndex, type)).string();
    writeEncodedAtomically(path, encodePng(path, sizes[type]));
  }
}

PatchSizes PatchSizeFiles::load(int frameIndex) const {
  PatchSizes sizes;
  for (int type = 0; type < kLensTypes; ++type) {
    const std::string path = (fs::path(folder_) / patchSizeFileName(frameIndex, type)).string();
    const std::string named = "patch sizes \"" + path + "\"";
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
      throw PlenoviewError(named +
                           (fs::exists(path, error)
                                ? ": not a regular file"
                                : ": no such file (frame " + std::to_string(frameIndex) + ")"));
    }
    cv::Mat image;
    try {
      image = cv::imread(path, cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception&) {
      image.release();
    }
    if (image.empty()) throw PlenoviewError(named + ": cannot be read as an image");
    if (image.type() != CV_8UC1 || image.size() != lenses_) {
      throw PlenoviewError(
          named + " holds " + std::to_string(image.cols) + " x " + std::to_string(image.rows) +
          " pixels of " + std::to_string(image.channels()) + " channel(s), " +
          std::to_string(8 * image.elemSize1()) + "-bit; the lens grid needs 8-bit grey " +
          std::to_string(lenses_.width) + " x " + std::to_string(lenses_.height) +
          " (lenses of one type per row x lens rows)");
    }
    sizes[type] = image;
  }
  return sizes;
}

}  // namespace plenoview
