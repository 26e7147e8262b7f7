#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/render_limits.h"

#include <opencv2/core.hpp>

#include <memory>
#include <string>

namespace plenoview {

// What a renderer is checked against before its first frame.
struct RendererChecks {
  std::string calibPath;  // named in the messages
  cv::Size frameSize;     // the first frame's
  bool colour = false;    // a three-channel first frame
  // The image memory one frame may take. A caller that does not know yet
  // whether its frames are grey or colour passes infinity here and runs
  // checkRenderLimits again at the first frame of each kind.
  double memoryBudgetBytes = plenoview::memoryBudgetBytes();
  // Whether to run the view-size, scale and memory limits at all (a run
  // without frames plans nothing).
  bool checkLimits = true;
  // What the view count is called in its message ("ViewNum", "views").
  std::string viewNumName = "ViewNum";
};

// The one way a renderer is made: refuses a view count outside 1 ..
// kMaxViewNum, constructs the renderer, then runs checkRenderLimits and
// checkViewGeometry. Throws PlenoviewError naming the value at fault.
std::unique_ptr<MultiViewRenderer> setUpRenderer(const LensCalibration& calib, int viewNum,
                                                 RendererOptions options,
                                                 const RendererChecks& checks);

}  // namespace plenoview
