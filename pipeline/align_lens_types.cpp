#include "renderer/multi_view_renderer.h"

namespace plenoview {

// Not built yet: a placeholder so that the pipeline runs end to end.
void MultiViewRenderer::alignLensTypes() {}
void shiftImage(const cv::Mat& source, cv::Mat& destination, cv::Point shift) { (void)shift; source.copyTo(destination); }

}  // namespace plenoview
