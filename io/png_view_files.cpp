#include "io/png_view_files.h"

#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "io/atomic_write.h"
#include "io/image_headers.h"
#include "renderer/parallel_work.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

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

PngViewFiles::PngViewFiles(const std::string& outputDir, int viewNum)
    : folder_((fs::path(outputDir) / "Result").string()), viewNum_(viewNum) {}

void PngViewFiles::write(const ViewGrid& viewGrid, int frameIndex) {
  CV_Assert(static_cast<int>(viewGrid.size()) == viewNum_);
  const fs::path folder(folder_);
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder)) {
    throw PlenoviewError("cannot create the output folder \"" + folder.string() + "\"" +
                         (error ? ": " + error.message() : std::string()));
  }
  // By rows of the grid: all x for y = 0, then all x for y = 1, ... The
  // encoding runs in parallel, one view per thread at a time; the files are
  // written in that order, so the first view that fails is the one reported
  // and no later file is touched. When a view cannot be written (a full
  // disk), the views of this frame written before it are removed again. An
  // interrupt keeps them: --resume completes that frame.
  std::vector<std::string> paths;
  std::vector<const cv::Mat*> views;
  for (int y = 0; y < viewNum_; ++y) {
    for (int x = 0; x < viewNum_; ++x) {
      CV_Assert(static_cast<int>(viewGrid[x].size()) == viewNum_);
      paths.push_back((folder / viewFileName(frameIndex, x, y)).string());
      views.push_back(&viewGrid[x][y]);
    }
  }
  const int count = static_cast<int>(paths.size());
  const int chunk = std::max(1, cv::getNumThreads());
  std::vector<std::vector<uchar>> encoded(chunk);
  std::vector<std::exception_ptr> failed(chunk);
  int written = 0;
  try {
    for (int first = 0; first < count; first += chunk) {
      const int last = std::min(count, first + chunk);
      parallelForEach(last - first, [&](int i) {
        failed[i] = nullptr;
        try {
          encoded[i] = encodePng(paths[first + i], *views[first + i]);
        } catch (...) {
          failed[i] = std::current_exception();
        }
      });
      for (int i = first; i < last; ++i) {
        if (failed[i - first]) std::rethrow_exception(failed[i - first]);
        writeEncodedAtomically(paths[i], encoded[i - first]);
        written = i + 1;
        // Ctrl-C stops after the file in hand; after the last one the frame is
        // complete and the frame loop stops before the next frame instead.
        if (i < count - 1) stopIfInterrupted(frameIndex);
      }
    }
  } catch (const InterruptedError&) {
    throw;
  } catch (const PlenoviewError&) {
    for (int i = 0; i < written; ++i) fs::remove(paths[i], error);
    throw;
  }
}

int PngViewFiles::removeLeftovers(int first, int end) {
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), done; !error && it != done; it.increment(error)) {
    const long long frame = temporaryFrameIndex(it->path().filename().string());
    if (frame < first || frame >= end) continue;
    std::error_code ignored;
    if (fs::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

std::vector<int> PngViewFiles::completeFrames(int first, int end) const {
  std::vector<int> complete;
  std::error_code error;
  if (!fs::is_directory(folder_, error)) return complete;
  for (int k = first; k < end; ++k) {
    bool whole = true;
    for (int y = 0; y < viewNum_ && whole; ++y) {
      for (int x = 0; x < viewNum_ && whole; ++x) {
        whole = isWholePng((fs::path(folder_) / viewFileName(k, x, y)).string());
      }
    }
    if (whole) complete.push_back(k);
  }
  return complete;
}

}  // namespace plenoview
