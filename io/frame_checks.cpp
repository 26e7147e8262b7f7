#include "io/frame_checks.h"

#include "base/plenoview_error.h"
#include "io/image_headers.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace plenoview {

namespace {

std::string frameName(const std::string& path, int index) {
  return "frame " + std::to_string(index) + ": \"" + path + "\"";
}

std::string sizeText(cv::Size size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

void checkFrameSize(cv::Size size, const std::string& path, int index) {
  if (size.width > kMaxFrameSide || size.height > kMaxFrameSide ||
      static_cast<long long>(size.width) * size.height > kMaxFramePixels) {
    throw PlenoviewError(frameName(path, index) + " is " + sizeText(size) +
                         " pixels; frames may have at most 65535 per side and 268435456 (2^28) "
                         "in all");
  }
}

}  // namespace

void checkFrameFile(const std::string& path, int index) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status)) return;  // the reader says it cannot read the file
  // A directory, a device or a pipe would be read forever or not at all.
  if (!fs::is_regular_file(status)) {
    throw PlenoviewError(frameName(path, index) + " is not a regular file");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) return;
  const FrameFileInfo info = inspectFrameFile(file);
  if (info.unsupported) {
    throw PlenoviewError(frameName(path, index) + " is a " + info.format +
                         " file, which plenoview does not read");
  }
  if (!info.damage.empty()) {
    throw PlenoviewError(frameName(path, index) + " " + info.damage);
  }
  if (info.format.empty()) return;
  if (info.size.width <= 0 || info.size.height <= 0) {
    throw PlenoviewError(frameName(path, index) + " has a size of " + sizeText(info.size) +
                         " in its " + info.format + " header");
  }
  checkFrameSize(info.size, path, index);
}

void checkFrameImage(const cv::Mat& frame, const std::string& path, int index, cv::Size firstSize) {
  checkFrameImageSize(frame.size(), path, index, firstSize);
}

void checkFrameImageSize(cv::Size size, const std::string& path, int index, cv::Size firstSize) {
  checkFrameSize(size, path, index);
  if (!firstSize.empty() && size != firstSize) {
    throw PlenoviewError(frameName(path, index) + " is " + sizeText(size) +
                         " pixels, but the first frame is " + sizeText(firstSize));
  }
}

}  // namespace plenoview
