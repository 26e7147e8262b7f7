#include "driver/plenoview_error.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/parallel_work.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
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

// Encodes in memory; the bytes are written by writePng. The encoder writing
// to a file itself does not notice a write that fails late (a full disk shows
// only when the file is closed), and a view must never go missing unreported.
std::vector<uchar> encodePng(const std::string& path, const cv::Mat& view) {
  std::vector<uchar> bytes;
  bool encoded = false;
  try {
    encoded = !view.empty() && cv::imencode(".png", view, bytes);
  } catch (const cv::Exception&) {
    encoded = false;
  }
  if (!encoded) throw PlenoviewError("cannot encode the view \"" + path + "\" as PNG");
  return bytes;
}

void writePng(const std::string& path, const std::vector<uchar>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw PlenoviewError("cannot write the view \"" + path + "\"");
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
  // By rows of the grid: all x for y = 0, then all x for y = 1, ... The
  // encoding, the costly part, runs in parallel, one view per thread; the
  // files are written in that order, so the first view that fails is the one
  // reported, and no later file is touched.
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
      writePng(paths[i], encoded[i - first]);
    }
  }
}

}  // namespace plenoview
