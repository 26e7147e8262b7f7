#include "renderer/multi_view_renderer.h"

namespace plenoview {

// Not built yet: a placeholder so that the pipeline runs end to end.
void MultiViewRenderer::blendLensTypes(ViewGrid& viewGrid) {
  viewGrid.resize(viewNum);
  for (auto& column : viewGrid) {
    column.resize(viewNum);
    for (cv::Mat& view : column) view = cv::Mat::zeros(viewSize, rawImage.type());
  }
}

}  // namespace plenoview
