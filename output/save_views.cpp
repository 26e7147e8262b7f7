#include "driver/interrupt.h"
#include "driver/plenoview_error.h"
#include "output/atomic_write.h"
#include "output/view_files.h"
#include "renderer/multi_view_renderer.h"

#include <filesystem>
#include <string>
#include <system_error>

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
  // By rows of the grid: all x for y = 0, then all x for y = 1, ...
  for (int y = 0; y < viewNum; ++y) {
    for (int x = 0; x < viewNum; ++x) {
      const std::string path = (folder / viewFileName(frameIndex, x, y)).string();
      writePngAtomically(path, viewGrid[x][y]);
      // Ctrl-C stops after the file in hand; after the last one the frame is
      // complete and the frame loop stops before the next frame instead.
      if (y < viewNum - 1 || x < viewNum - 1) stopIfInterrupted(frameIndex);
    }
  }
}

}  // namespace plenoview
