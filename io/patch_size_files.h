#pragma once

#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <string>

namespace plenoview {

// "PatchSizes_f<frame:04>_t<type>.png": the patch size every lens of one type
// was rendered with in one frame, one pixel a lens, lens rows by lenses of
// that type per row, 8-bit grey.
std::string patchSizeFileName(int frameIndex, int type);

// The patch sizes of a run's frames as files in one folder: written by
// --save-patch-sizes, read back by --load-patch-sizes instead of estimating
// them. `lenses` is the lens grid: calib.num (lenses of one type per row,
// lens rows), the size of every file.
class PatchSizeFiles {
 public:
  PatchSizeFiles(std::string folder, cv::Size lenses);

  // Writes frame `frameIndex`'s sizes, each file atomically (a file is there
  // whole or not at all); makes the folder when missing. Throws
  // PlenoviewError naming the file or folder that cannot be written.
  void save(int frameIndex, const PatchSizes& sizes) const;

  // Reads frame `frameIndex`'s sizes. Throws PlenoviewError naming the file
  // when one is missing, cannot be read as an image, or is not an 8-bit grey
  // image of the lens grid's size.
  PatchSizes load(int frameIndex) const;

 private:
  std::string folder_;
  cv::Size lenses_;
};

}  // namespace plenoview
