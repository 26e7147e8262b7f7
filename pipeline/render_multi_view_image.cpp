#include "renderer/multi_view_renderer.h"

#include <algorithm>
#include <cmath>

namespace plenoview {

namespace {

// The only place that reads pixels of a scale level: cuts `window` of level
// `level` (colour or grey) into `patch` where lensMask is non-zero. Returns
// false, leaving the patch as it was, when the window is not wholly inside
// the level (checkRoiRange prints the line).
bool cutSourceWindow(const MultiViewRenderer& renderer, int level, bool colour,
                     const cv::Rect& window, cv::Mat& patch) {
  const cv::Mat& source = renderer.scaledRawImage[colour ? 1 : 0][level];
  if (!checkRoiRange(source, window)) return false;
  source(window).copyTo(patch, renderer.lensMask);
  return true;
}

}  // namespace

void MultiViewRenderer::renderMultiViewImage(bool fixedSize, bool singleView, int givenSize,
                                             cv::Point& viewPos) {
  const bool colour = !singleView && rawImage.channels() > 1;
  const int viewType = colour ? CV_8UC3 : CV_8UC1;
  const int w = lensMask.cols;
  const int h = lensMask.rows;
  const double rowPitch = std::sqrt(3.0) * calib.radius;

  // Patch sizes map to the levels that frame preparation built, level i
  // standing for candidatePatchSizes[0] + i x patchSizeStep. A size outside
  // them (a patchSize entry or givenSize no candidate produces) is taken as
  // the nearest size that has a level, for its scale as well as its level.
  const int sourceEntry = colour ? 1 : 0;
  const int levelCount = sourceEntry < static_cast<int>(scaledRawImage.size())
                             ? static_cast<int>(scaledRawImage[sourceEntry].size())
                             : 0;
  const int smallestSize = candidatePatchSizes.empty() ? 0 : candidatePatchSizes[0];
  const int largestSize = smallestSize + patchSizeStep * (levelCount - 1);

  // The views to render; the pair ends one past the last of them. Views
  // outside the N x N grid are not rendered.
  const cv::Point first = viewPos;
  const cv::Point end = singleView ? first + cv::Point(1, 1) : cv::Point(viewNum, viewNum);
  viewPos = end;

  cv::Mat patch(h, w, viewType);
  for (int L = 0; L < 3; ++L) {
    const cv::Point2d ref = calib.subGridRefPos[0][L];
    for (int y = std::max(first.y, 0); y < std::min(end.y, viewNum); ++y) {
      for (int x = std::max(first.x, 0); x < std::min(end.x, viewNum); ++x) {
        cv::Mat& view = multiViewImage[L][x][y];
        view = cv::Mat::zeros(viewSize, viewType);
        if (levelCount == 0) continue;
        for (int t = 0; t < calib.num.y; ++t) {
          for (int j = 0; j < calib.num.x; ++j) {
            int s = fixedSize ? givenSize : patchSize[L].at<uchar>(t, j);
            s = std::clamp(s + 2 * lensMargin, smallestSize, largestSize);
            const double k = static_cast<float>(w) / static_cast<float>(s);

            // Sample point in the padded raw frame, moved by whole pixels per
            // view step. Left to right, each int term converted on its own.
            const double px = 3 * calib.diameter * j + calib.subGridRefPos[t % 2][L].x +
                              (x - centerView.x) + rawBorder;
            const double py = rowPitch * t + ref.y + (y - centerView.y) + rawBorder;

            // A lens whose window leaves its level still shows, as a white
            // disc, so that the hole is visible in the view.
            patch.setTo(cv::Scalar::all(255));
            const int level = (s - smallestSize) / patchSizeStep;
            const cv::Rect source(cvRound(k * px - w * 0.5), cvRound(k * py - h * 0.5), w, h);
            cutSourceWindow(*this, level, colour, source, patch);

            // The lens grid shrunk by (radius - lensMargin) / diameter about the
            // type's reference lens; the patch keeps its full size, so
            // neighbours overlap.
            const cv::Rect destination =
                viewPosition(lensMask.size(), L, t, j, cv::Point(x, y), true);
            if (!checkRoiRange(view, destination)) continue;
            cv::Mat region = view(destination);
            mergePatch(patch, region, lensMask, 0.5);
          }
        }
      }
    }
  }
}

}  // namespace plenoview
