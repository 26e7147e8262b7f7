#include "driver/interrupt.h"
#include "driver/plenoview_error.h"
#include "output/atomic_write.h"
#include "output/view_files.h"
#include "renderer/multi_view_renderer.h"

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
  // By rows of the grid: all x for y = 0, then all x for y = 1, ... When a
  // view cannot be written (a full disk), the views of this frame written
  // before it are removed again, so that no partial frame looks like a
  // result. An interrupt keeps them: --resume completes that frame.
  std::vector<fs::path> written;
  try {
    for (int y = 0; y < viewNum; ++y) {
      for (int x = 0; x < viewNum; ++x) {
        const fs::path path = folder / viewFileName(frameIndex, x, y);
        writePngAtomically(path.string(), viewGrid[x][y]);
        written.push_back(path);
        // Ctrl-C stops after the file in hand; after the last one the frame is
        // complete and the frame loop stops before the next frame instead.
        if (y < viewNum - 1 || x < viewNum - 1) stopIfInterrupted(frameIndex);
      }
    }
  } catch (const InterruptedError&) {
    throw;
  } catch (const PlenoviewError&) {
    for (const fs::path& path : written) fs::remove(path, error);
    throw;
  }
}

}  // namespace plenoview
