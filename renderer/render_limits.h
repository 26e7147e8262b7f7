#pragma once

#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <string>

namespace plenoview {

// The largest view side: views are written as PNG and shown on screen, and a
// side beyond this only comes from a corrupt calibration.
constexpr int kMaxViewSide = 65535;

// The image memory a run may plan for one frame: 64 GiB. It is a bound on
// what a calibration, a frame size and ViewNum may ask for together, above
// what real frames need (a 30-megapixel colour frame with 23-pixel lenses
// and 5 x 5 views plans about 23 GiB, a 41-megapixel one with 9 x 9 views
// about 37 GiB), so that a combination that would exhaust a shared machine
// is refused before its first allocation instead of failing half-way
// through a run.
constexpr double kMemoryBudgetBytes = 64.0 * 1024 * 1024 * 1024;

// Bytes that the images of one frame of `frameSize` take once rendered, for
// colour frames (grey ones take less). With b = centerView.x, P the padded
// frame (W + 2b) x (H + 2b) and V = viewSize, N = viewNum:
//
//   4 x P x 3                 the frame as read, its 8-bit form, the rotated
//                             and the padded copy
//   sum over levels of w x h x 4
//                             each scaled copy in colour and grey, sides
//                             truncated as the frame preparation does
//   V x N x N x 4 x 3         three lens types' views and the blended grid
//   V x 6                     patch maps and their visualisations
double frameMemoryEstimate(const MultiViewRenderer& renderer, cv::Size frameSize);

// Refuses, after set-up and before the first frame, views with a side below 1
// or above kMaxViewSide, a scaled copy with a side beyond int, and a
// frameMemoryEstimate above `budgetBytes`. Throws PlenoviewError naming the
// calibration file, its diameter, ViewNum and the frame size.
void checkRenderLimits(const MultiViewRenderer& renderer, cv::Size frameSize,
                       const std::string& calibPath, double budgetBytes = kMemoryBudgetBytes);

}  // namespace plenoview
