#include "renderer/multi_view_renderer.h"

namespace plenoview {

// Not built yet: a placeholder so that the pipeline runs end to end.
void MultiViewRenderer::estimatePatchSizes(cv::Point view) { (void)view; }

}  // namespace plenoview
