#pragma once

#include "io/view_folder.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace plenoview::view {

// The views of the page's frames, encoded for the page, and the mosaic.
struct PageViews {
  // [frame shown][y * N + x]: view (x, y) as a data: URI, "data:image/png;base64,..."
  // (lossless) or "data:image/jpeg;base64,...".
  std::vector<std::vector<std::string>> uris;
  // The first frame's views abutted: view (x, y) at (x W, y H), W x H the
  // views' size, N W x N H pixels of the type the views are read as.
  cv::Mat mosaic;
  std::size_t bytes = 0;  // the length of all URIs together
};

// Reads view (x, y) of every frame in `frames` (indices of folder.frames(),
// increasing) with ViewFolder::Reader::bgr (a PNG view's own pixels; a video
// view converted by cv::cvtColor(COLOR_YUV2BGR_I420)) and encodes it: PNG with
// the encoder's defaults, or JPEG of quality `jpegQuality` (1 .. 100; 0 for
// PNG). Views are read and encoded on OpenCV's worker threads, each view's
// file opened once. Throws PlenoviewError naming a view that cannot be read
// or encoded, and, as soon as the URIs reach past `maxBytes` together, one
// saying so: "the page would be larger than <M> MB (--max-mb)" and what
// makes it smaller.
PageViews readPageViews(const ViewFolder& folder, const std::vector<int>& frames, int jpegQuality,
                        std::size_t maxBytes);

// Throws the PlenoviewError of a page of `bytes` larger than `maxBytes`.
void checkPageSize(std::size_t bytes, std::size_t maxBytes);

// The text of a size: below 10^6 bytes in whole kB ("15 kB"), above in MB
// (10^6 bytes) with one decimal ("12.3 MB").
std::string megabytesText(std::size_t bytes);

}  // namespace plenoview::view
