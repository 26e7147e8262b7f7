#include "renderer/multi_view_renderer.h"

namespace plenoview {

// Not built yet: a placeholder so that the pipeline runs end to end.
void MultiViewRenderer::renderMultiViewImage(bool fixedSize, bool singleView, int givenSize, cv::Point& viewPos) { (void)fixedSize; (void)singleView; (void)givenSize; (void)viewPos; }

}  // namespace plenoview
