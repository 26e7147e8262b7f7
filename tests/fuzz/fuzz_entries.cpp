#include "tests/fuzz/fuzz_entries.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "calibration/calibration_limits.h"
#include "calibration/lens_calibration.h"
#include "calibration/lens_type_roles.h"
#include "io/frame_checks.h"
#include "io/image_headers.h"
#include "io/video_source.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/render_limits.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace plenoview::fuzz {

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// A file of this process's own, rewritten for every input (the readers take
// a path) and removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(const char* extension)
      : path_((std::filesystem::temp_directory_path() /
               ("plenoview_fuzz_" + std::to_string(::getpid()) + extension))
                  .string()) {}
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  // Writes the bytes; returns the path.
  const std::string& write(const std::uint8_t* data, std::size_t size) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path_;
  }

 private:
  std::string path_;
};

int littleEndian(const std::uint8_t* p, int count) {
  unsigned value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | p[i];
  return static_cast<int>(value);
}

}  // namespace

void calibrationReader(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return;
  const int width = 1 + littleEndian(data, 2) % 4096;
  const int height = 1 + littleEndian(data + 2, 2) % 4096;
  const int N = 1 + data[4] % 99;
  static const ScratchFile scratch(".xml");
  const std::string& path = scratch.write(data + 5, size - 5);
  // Only the frame's size is read: a header without pixels will do.
  static unsigned char pixel = 0;
  const cv::Mat frame(height, width, CV_8UC1, &pixel, 0);

  LensCalibration calib;
  try {
    readCalibration(calib, frame, path);
  } catch (const PlenoviewError&) {
    return;
  }
  require(calib.diameter >= 6 && calib.diameter < 258);
  require(calib.num.x >= 1 && calib.num.y >= 1);
  const LensTypeRoles roles = lensTypeRoles(calib);
  require(roles.leftType >= 0 && roles.leftType <= 2 && roles.rightType >= 0 &&
          roles.rightType <= 2);
  require(!calib.microLensParameterReport().empty());

  MultiViewRenderer renderer(calib, N);
  try {
    checkRenderLimits(renderer, frame.size(), data[4] >= 128, path);
  } catch (const PlenoviewError&) {
    return;
  }
  require(renderer.viewSize.width >= 1 && renderer.viewSize.height >= 1);
  const cv::Size mask = renderer.lensMask.size();
  for (int t = 0; t < 3; ++t) {
    for (const cv::Point& view : {cv::Point(0, 0), cv::Point(N - 1, N - 1)}) {
      for (const bool shifted : {true, false}) {
        renderer.viewPosition(mask, t, 0, 0, view, shifted);
        renderer.viewPosition(mask, t, calib.num.y - 1, calib.num.x - 1, view, shifted);
      }
    }
  }
}

void framePattern(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return;
  const int index = littleEndian(data, 4);
  const std::string pattern(reinterpret_cast<const char*>(data + 4), size - 4);
  try {
    checkFramePattern(pattern);
  } catch (const PlenoviewError&) {
    return;
  }
  const std::string path = formatPath(pattern, index);
  // One conversion of at most 255 digits plus a sign replaces at most its
  // own text; "%%" shrinks to one character.
  require(path.size() <= pattern.size() + 256);
}

void frameFile(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream in(bytes);
  const FrameFileInfo info = inspectFrameFile(in);
  require(info.damage.empty() || info.format == "PNG" || info.format == "JPEG");
  require(info.size.width >= 0 && info.size.height >= 0);
  // What the frame reader does next: decode what the check lets through.
  // Anything the decoder then does to the process, it does to a run. Large
  // claims are left out to keep each input fast. (cv::Size::area()
  // multiplies in int: a header's size may overflow it.)
  const long long pixels = static_cast<long long>(info.size.width) * info.size.height;
  if (info.unsupported || !info.damage.empty() || pixels > 1 << 20) return;
  if (!info.format.empty() && pixels == 0) return;  // refused as a size of zero
  static const bool silenced = [] {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    return true;
  }();
  (void)silenced;
  cv::Mat decoded;
  try {
    decoded = cv::imdecode(std::vector<uchar>(data, data + size), cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    return;  // refused by the decoder: the reader reports that
  }
  // The limits trust the header: a file that passes must decode to the size
  // the header gave.
  require(info.format.empty() || decoded.empty() || decoded.size() == info.size);
}

void y4mHeader(const std::uint8_t* data, std::size_t size) {
  static const ScratchFile scratch(".y4m");
  const std::string& path = scratch.write(data, size);
  try {
    VideoFrameSource source(path, {});
    const VideoFormat& format = source.format();
    // What the header let through fits the limits and the file.
    require(format.size.width > 0 && format.size.height > 0);
    require(static_cast<long long>(format.size.width) * format.size.height <= kMaxFramePixels);
    require(format.mono || (format.size.width % 2 == 0 && format.size.height % 2 == 0));
    require(source.frameCount() >= 0 &&
            source.frameCount() * format.frameBytes() <= static_cast<long long>(size));
    for (int k = 0; k < source.frameCount() && k < 4; ++k) {
      const cv::Mat frame = source.frame(k);
      require(frame.size() == format.size && frame.depth() == CV_8U &&
              frame.channels() == (format.mono ? 1 : 3));
    }
  } catch (const PlenoviewError&) {
    // Refused with its one line: an expected outcome.
  }
}

}  // namespace plenoview::fuzz
