#pragma once

#include "calibration/lens_calibration.h"

#include <opencv2/core.hpp>

#include <array>
#include <string>
#include <vector>

namespace plenoview::view {

// The patch sizes of the page's frames in false colour, for its patch-size
// panel. Every size s of the files shown maps to entry
// (s - low) * 255 / (high - low) (integer division; 0 when low == high) of
// OpenCV's COLORMAP_VIRIDIS, low and high taken over all the frames and lens
// types shown, so that a colour means the same size on every frame.
struct PatchSizePictures {
  int low = 0;   // the smallest size in the files
  int high = 0;  // the largest
  // Per frame shown and lens type: 8-bit BGR, one pixel a lens, lens rows by
  // lenses of that type per row, as in the files.
  std::vector<std::array<cv::Mat, kLensTypes>> frames;
  // The scale: 1 row of high - low + 1 pixels, 8-bit BGR, pixel i the colour
  // of size low + i.
  cv::Mat scale;
};

// Reads PatchSizes_f<frame>_t<type>.png (io/patch_size_files.h) of each of
// `frames` from `folder`; the lens grid is the size of the first frame's type
// 0 file. Throws PlenoviewError when `folder` is not a folder, and naming the
// file that is missing, unreadable, or not 8-bit grey of the grid's size.
PatchSizePictures readPatchSizePictures(const std::string& folder, const std::vector<int>& frames);

}  // namespace plenoview::view
