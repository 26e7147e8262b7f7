#include "driver/plenoview_error.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace plenoview {

namespace {

std::string viewFileName(int frameIndex, int x, int y) {
  char name[64];
  if (frameIndex == -1) {
    std::snprintf(name, sizeof name, "%s_c%02d%02d.png", "Result", x, y);
  } else {
    std::snprintf(name, sizeof name, "%s_f%04d_c%02d%02d.png", "Result", frameIndex, x, y);
  }
  return name;
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
  for (int y = 0; y < viewNum; ++y) {
    for (int x = 0; x < viewNum; ++x) {
      const std::string path = (folder / viewFileName(frameIndex, x, y)).string();
      bool written = false;
      try {
        written = cv::imwrite(path, viewGrid[x][y]);
      } catch (const cv::Exception&) {
        written = false;
      }
      if (!written) throw PlenoviewError("cannot write the view \"" + path + "\"");
    }
  }
}

}  // namespace plenoview
