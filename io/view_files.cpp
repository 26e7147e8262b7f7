#include "io/view_files.h"

#include "io/atomic_write.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace plenoview {

namespace {

namespace fs = std::filesystem;

const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// The last chunk of every PNG: length 0, type IEND, its CRC.
const unsigned char kPngEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};

// The frame index of a temporary view file ".Result_f<digits>_c....png.tmp-...",
// or -1 for any other name.
long long temporaryFrameIndex(const std::string& name) {
  const std::string prefix = ".Result_f";
  if (!isTemporaryPngName(name) || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long long index = 0;
  size_t i = prefix.size();
  const size_t firstDigit = i;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - firstDigit < 12) {
    index = index * 10 + (name[i++] - '0');
  }
  if (i == firstDigit || name.compare(i, 2, "_c") != 0) return -1;
  return index;
}

}  // namespace

std::string viewFileName(int frameIndex, int x, int y) {
  char name[128];
  if (frameIndex == -1) {
    std::snprintf(name, sizeof name, "%s_c%02d%02d.png", "Result", x, y);
  } else {
    std::snprintf(name, sizeof name, "%s_f%04d_c%02d%02d.png", "Result", frameIndex, x, y);
  }
  return name;
}

bool isWholePng(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return false;
  const auto size = fs::file_size(path, error);
  if (error || size < sizeof kPngSignature + sizeof kPngEnd) return false;
  std::ifstream in(path, std::ios::binary);
  unsigned char head[sizeof kPngSignature];
  unsigned char tail[sizeof kPngEnd];
  in.read(reinterpret_cast<char*>(head), sizeof head);
  in.seekg(-static_cast<std::streamoff>(sizeof tail), std::ios::end);
  in.read(reinterpret_cast<char*>(tail), sizeof tail);
  return in && std::memcmp(head, kPngSignature, sizeof head) == 0 &&
         std::memcmp(tail, kPngEnd, sizeof tail) == 0;
}

bool frameViewsComplete(const std::string& folder, int frameIndex, int viewNum) {
  for (int y = 0; y < viewNum; ++y) {
    for (int x = 0; x < viewNum; ++x) {
      if (!isWholePng((fs::path(folder) / viewFileName(frameIndex, x, y)).string())) return false;
    }
  }
  return true;
}

int removeLeftoverTemporaries(const std::string& folder, int first, int end) {
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), done; !error && it != done; it.increment(error)) {
    const long long frame = temporaryFrameIndex(it->path().filename().string());
    if (frame < first || frame >= end) continue;
    std::error_code ignored;
    if (fs::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

}  // namespace plenoview
