#include "io/view_files.h"

#include "io/atomic_write.h"
#include "io/image_headers.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace plenoview {

namespace {

namespace fs = std::filesystem;

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
