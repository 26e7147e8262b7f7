#pragma once

#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <string>

namespace plenoview {

// The most views per side. It keeps the view fields of the output names at
// two digits, so that the names sort in view order, and the N x N grids of
// views within reach; what the views of a frame may take in memory is
// bounded separately, once the calibration is known.
constexpr int kMaxViewNum = 99;

// The largest view side: views are written as PNG and shown on screen, and a
// side beyond this only comes from a corrupt calibration.
constexpr int kMaxViewSide = 65535;

// The image memory a run may plan for one frame: the smaller of 64 GiB and
// the memory of the machine (its RAM, or the memory limit of the control
// group it runs in). 64 GiB is above what real frames need (a 30-megapixel
// colour frame with 23-pixel lenses plans about 2.2 GiB with 5 x 5 views and
// 6.2 GiB with 9 x 9, a 41-megapixel one with 37-pixel lenses and 15 x 15
// views about 25 GiB); beyond the machine's
// memory a run cannot finish. Either way a combination that would exhaust a
// shared machine is refused before its first allocation instead of failing,
// or being killed, half-way through a run.
constexpr double kMemoryBudgetBytes = 64.0 * 1024 * 1024 * 1024;

// min(kMemoryBudgetBytes, the machine's memory); kMemoryBudgetBytes when the
// machine's memory cannot be read.
double memoryBudgetBytes();

// Bytes that the images of one frame of `frameSize` take once rendered,
// `colour` for three-channel frames (after the conversion to 8 bits). With
// b = centerView.x, P the padded frame (W + 2b) x (H + 2b), V = viewSize,
// N = viewNum and c = 3 for colour, 1 for grey:
//
//   4 x P x c                 the frame as read, its 8-bit form, the rotated
//                             and the padded copy
//   sum over levels of (w + h) x 8
//                             the tables from which every window of a scale
//                             level is computed when it is cut, sides w x h
//                             truncated as the frame preparation does; with
//                             options.buildAllScaleLevels instead w x h x
//                             (c + 1 for colour, 1 for grey), each whole
//                             scaled copy and in colour its grey form
//   V x N x N x 4 x c         three lens types' views and the blended grid
//   V x 6                     patch maps and their visualisations
double frameMemoryEstimate(const MultiViewRenderer& renderer, cv::Size frameSize, bool colour);

// Refuses, after set-up and before the first frame, views with a side below 1
// or above kMaxViewSide, a scaled copy with a side beyond int, and a
// frameMemoryEstimate above `budgetBytes`. Throws PlenoviewError naming the
// calibration file, its diameter, ViewNum and the frame size.
void checkRenderLimits(const MultiViewRenderer& renderer, cv::Size frameSize, bool colour,
                       const std::string& calibPath, double budgetBytes = memoryBudgetBytes());

}  // namespace plenoview
