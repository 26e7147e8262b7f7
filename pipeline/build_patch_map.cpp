#include "pipeline/build_patch_map.h"

#include "pipeline/check_roi_range.h"
#include "pipeline/merge_patch.h"
#include "renderer/half_merge.h"
#include "renderer/scale_level_windows.h"

#include <vector>

namespace plenoview {

void MultiViewRenderer::buildPatchMap(FrameImages& images, const LineSink& lines) const {
  // The disc the renderer draws merges each row's span whole; a mask of any
  // other shape goes through mergePatch.
  const std::vector<ColumnSpan> spans = nonZeroSpans(lensMask);
  const bool solid = solidWithin(lensMask, spans);
  cv::Mat disc;
  for (int type = 0; type < kLensTypes; ++type) {
    cv::Mat& map = images.patchMap[type];
    map = cv::Mat::zeros(viewSize, CV_8UC1);
    for (int row = 0; row < calib.num.y; ++row) {
      for (int column = 0; column < calib.num.x; ++column) {
        const uchar size = patchSize[type].at<uchar>(row, column);
        const cv::Rect window = viewPosition(lensMask.size(), type, row, column);
        if (!checkRoiRange(map, window, lines)) continue;
        if (solid) {
          for (int r = 0; r < window.height; ++r) {
            mergeHalfRowConstantWhole(size,
                                      map.ptr<uchar>(window.y + r) + window.x + spans[r].begin,
                                      spans[r].end - spans[r].begin);
          }
        } else {
          disc.create(lensMask.size(), CV_8UC1);
          disc.setTo(cv::Scalar(size));
          cv::Mat target = map(window);
          mergePatch(disc, target, lensMask, 0.5);
        }
      }
    }
  }
}

}  // namespace plenoview
