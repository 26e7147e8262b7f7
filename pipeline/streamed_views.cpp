#include "pipeline/streamed_views.h"

#include "base/parallel_work.h"
#include "pipeline/align_lens_types.h"
#include "pipeline/blend_lens_types.h"
#include "pipeline/crop_and_orient_views.h"
#include "pipeline/render_multi_view_image.h"

#include <array>
#include <utility>

namespace plenoview {

std::vector<std::vector<cv::Point>> viewGroups(int N, int most) {
  std::vector<std::vector<cv::Point>> groups;
  const int pieces = (N + most - 1) / most;
  for (int y = 0; y < N; ++y) {
    for (int p = 0; p < pieces; ++p) {
      std::vector<cv::Point> group;
      for (int x = N * p / pieces; x < N * (p + 1) / pieces; ++x) group.emplace_back(x, y);
      groups.push_back(std::move(group));
    }
  }
  return groups;
}

void StreamedViews::render(const MultiViewRenderer& renderer, FrameImages& images,
                           const ViewGroupSink& finished) {
  auto done = [&renderer](const char* step) {
    if (renderer.options.stepDone) renderer.options.stepDone(step);
  };
  const cv::Point centre = renderer.centerView;
  ViewGrid(&grids)[kLensTypes] = images.multiViewImage;

  // The lines of the whole rendering first, in its order; the views below
  // render silently. The centre views go into the frame's grids, where the
  // alignment measures the shift and the inspection finds them; their
  // images are the frame before's, reused.
  renderer.reportRenderingLines(images, renderer.options.outOfRangeLines);
  std::vector<cv::Mat> centreViews[kLensTypes];
  for (int type = 0; type < kLensTypes; ++type) {
    centreViews[type] = {grids[type][centre.x][centre.y]};
  }
  renderer.renderViews(images, {centre}, centreViews);
  for (int type = 0; type < kLensTypes; ++type) {
    grids[type][centre.x][centre.y] = centreViews[type][0];
  }
  done("renderMultiViewImage");
  const int typeShift = renderer.measureTypeShift(images);
  renderer.shiftLensTypes(
      {&grids[0][centre.x][centre.y], &grids[1][centre.x][centre.y], &grids[2][centre.x][centre.y]},
      typeShift);
  done("alignLensTypes");

  const LensTypeBlend blend(renderer, images);
  blended_.resize(kGroupSets * kViewsPerGroup);
  turned_.resize(kGroupSets * kViewsPerGroup);
  std::vector<FinishedView> group;
  for (const std::vector<cv::Point>& places : viewGroups(renderer.viewNum, kViewsPerGroup)) {
    const int count = static_cast<int>(places.size());
    cv::Mat* const blended = &blended_[groupSet_ * kViewsPerGroup];
    cv::Mat* const turned = &turned_[groupSet_ * kViewsPerGroup];
    groupSet_ = (groupSet_ + 1) % kGroupSets;

    // Each place's three type views: the centre's from the frame's grids,
    // the others rendered into the group's images.
    std::vector<cv::Point> toRender;
    for (const cv::Point at : places) {
      if (at != centre) toRender.push_back(at);
    }
    if (!toRender.empty()) renderer.renderViews(images, toRender, typeViews_);
    std::vector<std::array<cv::Mat*, kLensTypes>> sources(count);
    for (int i = 0, rendered = 0; i < count; ++i) {
      const cv::Point at = places[i];
      for (int type = 0; type < kLensTypes; ++type) {
        sources[i][type] = at == centre ? &grids[type][at.x][at.y] : &typeViews_[type][rendered];
      }
      if (at != centre) ++rendered;
    }
    done("renderMultiViewImage");
    for (int i = 0; i < count; ++i) {
      if (places[i] != centre) renderer.shiftLensTypes(sources[i], typeShift);
    }
    done("alignLensTypes");

    group.resize(count);
    parallelForEach(count, [&](int i) {
      const cv::Mat typeViews[kLensTypes] = {*sources[i][0], *sources[i][1], *sources[i][2]};
      blend.blend(typeViews, blended[i]);
    });
    done("blendLensTypes");
    for (int i = 0; i < count; ++i) {
      group[i].place = places[i];
      group[i].view = blended[i];
      renderer.cropAndOrientView(group[i].view, turned[i]);
    }
    done("cropAndOrientViews");
    finished(group);
  }
}

}  // namespace plenoview
