#include "renderer/set_up_renderer.h"

#include "base/plenoview_error.h"
#include "renderer/view_geometry.h"

#include <string>
#include <utility>

namespace plenoview {

std::unique_ptr<MultiViewRenderer> setUpRenderer(const LensCalibration& calib, int viewNum,
                                                 RendererOptions options,
                                                 const RendererChecks& checks) {
  if (viewNum < 1) {
    throw PlenoviewError(checks.viewNumName + " must be at least 1, not " +
                         std::to_string(viewNum));
  }
  if (viewNum > kMaxViewNum) {
    throw PlenoviewError(checks.viewNumName + " must be at most " + std::to_string(kMaxViewNum) +
                         ", not " + std::to_string(viewNum));
  }
  auto renderer = std::make_unique<MultiViewRenderer>(calib, viewNum, std::move(options));
  if (checks.checkLimits) {
    checkRenderLimits(*renderer, checks.frameSize, checks.colour, checks.calibPath,
                      checks.memoryBudgetBytes);
  }
  // Views that would crop to nothing are refused before the first frame,
  // rather than written as empty files.
  checkViewGeometry(renderer->calib, renderer->viewSize);
  return renderer;
}

}  // namespace plenoview
