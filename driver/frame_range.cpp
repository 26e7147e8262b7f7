#include "driver/frame_range.h"

#include "io/view_files.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace plenoview {

bool FrameRange::isComplete(int frameIndex) const {
  return std::binary_search(complete.begin(), complete.end(), frameIndex);
}

void resumeFrames(FrameRange& range, const std::string& folder, int viewNum) {
  range.complete.clear();
  range.removedTemporaries = 0;
  std::error_code error;
  if (range.end <= range.first || !std::filesystem::is_directory(folder, error)) return;
  range.removedTemporaries = removeLeftoverTemporaries(folder, range.first, range.end);
  for (int k = range.first; k < range.end; ++k) {
    if (frameViewsComplete(folder, k, viewNum)) range.complete.push_back(k);
  }
}

}  // namespace plenoview
