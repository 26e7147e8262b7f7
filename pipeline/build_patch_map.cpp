#include "pipeline/build_patch_map.h"

#include "pipeline/check_roi_range.h"
#include "pipeline/merge_patch.h"

namespace plenoview {

void MultiViewRenderer::buildPatchMap(FrameImages& images, const LineSink& lines) const {
  for (int type = 0; type < kLensTypes; ++type) {
    cv::Mat& map = images.patchMap[type];
    map = cv::Mat::zeros(viewSize, CV_8UC1);
    for (int row = 0; row < calib.num.y; ++row) {
      for (int column = 0; column < calib.num.x; ++column) {
        const cv::Mat disc(lensMask.size(), CV_8UC1,
                           cv::Scalar(patchSize[type].at<uchar>(row, column)));
        const cv::Rect window = viewPosition(lensMask.size(), type, row, column);
        if (!checkRoiRange(map, window, lines)) continue;
        cv::Mat target = map(window);
        mergePatch(disc, target, lensMask, 0.5);
      }
    }
  }
}

}  // namespace plenoview
