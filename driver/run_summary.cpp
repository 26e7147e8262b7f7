#include "driver/run_summary.h"

#include <cstdio>
#include <string>
#include <vector>

namespace plenoview {

std::string formatSummary(const RunSummary& summary) {
  char text[256];
  int length = std::snprintf(
      text, sizeof text, "summary: %d frame%s done, %d skipped, %d failed in %.1f s", summary.done,
      summary.done == 1 ? "" : "s", summary.skipped, summary.failed, summary.wallSeconds);
  if (summary.done > 0 && length > 0 && static_cast<size_t>(length) < sizeof text) {
    std::snprintf(text + length, sizeof text - length, " (%.2f s/frame)",
                  summary.frameSeconds / summary.done);
  }
  return text;
}

std::string describeFrames(const std::vector<int>& frames, int maxRanges) {
  std::string text;
  int ranges = 0;
  for (size_t i = 0; i < frames.size();) {
    size_t j = i;
    while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1) ++j;
    if (ranges == maxRanges) return text + ", ...";
    if (ranges++ > 0) text += ", ";
    text += std::to_string(frames[i]);
    if (j > i) text += "-" + std::to_string(frames[j]);
    i = j + 1;
  }
  return text;
}

}  // namespace plenoview
