#include "driver/plenoview_error.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace plenoview {

namespace {

std::string viewFileName(int frameIndex, int x, int y) {
  char name[128];
  if (frameIndex == -1) {
    std::snprintf(name, sizeof name, "%s_c%02d%02d.png", "Result", x, y);
  } else {
    std::snprintf(name, sizeof name, "%s_f%04d_c%02d%02d.png", "Result", frameIndex, x, y);
  }
  return name;
}

// Encodes in memory and writes the bytes ourselves: the encoder writing to a
// file does not notice a write that fails late (a full disk shows only when
// the file is closed), and a view must never go missing unreported.
void writePng(const std::string& path, const cv::Mat& view) {
  std::vector<uchar> bytes;
  bool encoded = false;
  try {
    encoded = !view.empty() && cv::imencode(".png", view, bytes);
  } catch (const cv::Exception&) {
    encoded = false;
  }
  if (!encoded) throw PlenoviewError("cannot encode the view \"" + path + "\" as PNG");
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const bool opened = file.is_open();
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    // Opened and then not written in full: what is left is no view.
    std::error_code ignored;
    if (opened) std::filesystem::remove(path, ignored);
    throw PlenoviewError("cannot write the view \"" + path + "\"");
  }
}

}  // namespace

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
  // By rows of the grid: all x for y = 0, then all x for y = 1, ... A frame
  // is written whole or not at all: when a view fails (a full disk), the
  // views of this frame written before it are removed again, so that no
  // partial frame looks like a result.
  std::vector<fs::path> written;
  try {
    for (int y = 0; y < viewNum; ++y) {
      for (int x = 0; x < viewNum; ++x) {
        const fs::path path = folder / viewFileName(frameIndex, x, y);
        writePng(path.string(), viewGrid[x][y]);
        written.push_back(path);
      }
    }
  } catch (const PlenoviewError&) {
    for (const fs::path& path : written) fs::remove(path, error);
    throw;
  }
}

}  // namespace plenoview
