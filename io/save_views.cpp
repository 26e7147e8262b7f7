#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "io/atomic_write.h"
#include "io/view_files.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/parallel_work.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace plenoview {

void MultiViewRenderer::saveViews(const ViewGrid& viewGrid, int frameIndex,
                                  const std::string& outputDir) const {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(outputDir) / "Result";
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder)) {
    throw PlenoviewError("cannot create the output folder \"" + folder.string() + "\"" +
                         (error ? ": " + error.message() : std::string()));
  }
  // By rows of the grid: all x for y = 0, then all x for y = 1, ... The
  // encoding, the costly part, runs in parallel, one view per thread at a
  // time; the files are written in that order, so the first view that fails
  // is the one reported and no later file is touched. When a view cannot be
  // written (a full disk), the views of this frame written before it are
  // removed again, so that no partial frame looks like a result. An interrupt
  // keeps them: --resume completes that frame.
  std::vector<std::string> paths;
  std::vector<const cv::Mat*> views;
  for (int y = 0; y < viewNum; ++y) {
    for (int x = 0; x < viewNum; ++x) {
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

}  // namespace plenoview
