#include "pipeline/check_roi_range.h"
#include "pipeline/merge_patch.h"
#include "renderer/multi_view_renderer.h"

namespace plenoview {

void MultiViewRenderer::buildPatchMap() {
  for (int t = 0; t < 3; ++t) {
    patchMap[t] = cv::Mat::zeros(viewSize, CV_8UC1);
    for (int j = 0; j < calib.num.y; ++j) {
      for (int k = 0; k < calib.num.x; ++k) {
        // The lens's disc, painted with its patch size. Where discs of one
        // type overlap, each later lens averages with what is there.
        const cv::Mat disc(lensMask.size(), CV_8UC1, cv::Scalar(patchSize[t].at<uchar>(j, k)));
        const cv::Rect window = viewPosition(lensMask.size(), t, j, k, cv::Point(0, 0), false);
        if (!checkRoiRange(patchMap[t], window, options.outOfRangeLines)) continue;
        cv::Mat target = patchMap[t](window);
        mergePatch(disc, target, lensMask, 0.5);
      }
    }
  }
}

}  // namespace plenoview
