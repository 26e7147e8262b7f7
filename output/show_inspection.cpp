#include "output/display.h"
#include "renderer/multi_view_renderer.h"

namespace plenoview {

void MultiViewRenderer::showInspection() {
  // Inspection windows arrive with the calibration overlay work.
}

void MultiViewRenderer::visualizePatchMap() {}

}  // namespace plenoview
