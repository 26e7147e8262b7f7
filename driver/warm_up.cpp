#include "driver/warm_up.h"

namespace plenoview {

void warmUpPatchSizes(FramePipeline& pipeline, const cv::Mat& frame) {
  pipeline.estimatePatchSizesOnly(frame);
}

}  // namespace plenoview
