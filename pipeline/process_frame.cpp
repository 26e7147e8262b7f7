#include "pipeline/blend_lens_types.h"
#include "pipeline/to_eight_bit_frame.h"
#include "renderer/multi_view_renderer.h"
#include "base/parallel_work.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <utility>
#include <vector>

namespace plenoview {

void MultiViewRenderer::loadRawImage(cv::Mat frame) {
  // The stages take 8-bit samples with one or three channels only.
  cv::Mat eightBit = toEightBitFrame(frame);

  // Turn the frame back by the grid's rotation about the grid centre, into a
  // new image of its own (the frame is the caller's). The image is made
  // inside a black frame of the border that prepareRawImage pads it by, so
  // that the padding needs no copy.
  const cv::Point2f centre(static_cast<float>(calib.center.x), static_cast<float>(calib.center.y));
  const double angle = calib.rotation * -180.0 / 3.14159265;
  const cv::Mat rotation = cv::getRotationMatrix2D(centre, angle, 1.0);
  // The level windows' hold on the previous frame goes first, so that its
  // image can be reused.
  scaleLevelWindows.releaseFrame();
  const int border = std::max(centerView.x, 0);
  const cv::Size paddedSize(eightBit.cols + 2 * border, eightBit.rows + 2 * border);
  cv::Mat padded;
  if (rawImage.size() == paddedSize && rawImage.type() == eightBit.type() &&
      rawImage.isContinuous() && rawImage.u != nullptr && rawImage.u->refcount == 1) {
    // The previous frame's image, held by nobody else: its pixels are reused
    // (the same memory every frame), its border cleared.
    padded = rawImage;
    padded.rowRange(0, border).setTo(cv::Scalar::all(0));
    padded.rowRange(paddedSize.height - border, paddedSize.height).setTo(cv::Scalar::all(0));
    padded.colRange(0, border).setTo(cv::Scalar::all(0));
    padded.colRange(paddedSize.width - border, paddedSize.width).setTo(cv::Scalar::all(0));
  } else {
    rawImage.release();  // before the new image is made, not after
    padded = cv::Mat::zeros(paddedSize, eightBit.type());
  }
  rawImage = padded(cv::Rect(border, border, eightBit.cols, eightBit.rows));
  cv::warpAffine(eightBit, rawImage, rotation, eightBit.size(), cv::INTER_LINEAR,
                 cv::BORDER_CONSTANT, cv::Scalar::all(0));
  // Nothing reads the frame any more; a caller that handed it over frees it.
  eightBit.release();
  frame.release();
}

namespace {

// The steps both ways of processing a frame begin with: the frame turned
// back and prepared, the patch sizes estimated, the patch map painted.
void estimateFrame(MultiViewRenderer& renderer, cv::Mat frame) {
  auto done = [&renderer](const char* step) {
    if (renderer.options.stepDone) renderer.options.stepDone(step);
  };
  renderer.loadRawImage(std::move(frame));
  done("rotate");
  renderer.prepareRawImage();
  done("prepareRawImage");
  renderer.estimatePatchSizes();
  done("estimatePatchSizes");
  renderer.buildPatchMap();
  done("buildPatchMap");
}

}  // namespace

void MultiViewRenderer::processFrame(cv::Mat frame, ViewGrid& viewGrid) {
  auto done = [this](const char* step) {
    if (options.stepDone) options.stepDone(step);
  };

  estimateFrame(*this, std::move(frame));
  renderMultiViewImage();
  done("renderMultiViewImage");
  alignLensTypes();
  done("alignLensTypes");
  blendLensTypes(viewGrid);
  done("blendLensTypes");
  cropAndOrientViews(viewGrid);
  done("cropAndOrientViews");
}

namespace {

// The grid in groups: each grid row cut into runs of at most `most` views,
// as even as they go; y outer, x inner.
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

}  // namespace

void MultiViewRenderer::processFrame(cv::Mat frame, const ViewGroupSink& finished) {
  auto done = [this](const char* step) {
    if (options.stepDone) options.stepDone(step);
  };
  const cv::Point centre = centerView;
  // The estimation renders grey centre views, the rendering colour ones: each
  // gets the image it had in the frame before.
  for (int t = 0; t < 3; ++t) {
    std::swap(multiViewImage[t][centre.x][centre.y], spareCentreViews[t]);
  }

  estimateFrame(*this, std::move(frame));
  for (int t = 0; t < 3; ++t) {
    std::swap(multiViewImage[t][centre.x][centre.y], spareCentreViews[t]);
  }

  // The lines of the whole rendering first, in its order; the groups below
  // render silently.
  reportRenderingLines();
  renderViewGroup({centre});
  done("renderMultiViewImage");
  const int typeShift = measureTypeShift();
  shiftLensTypes(centre, typeShift);
  done("alignLensTypes");

  const LensTypeBlend blend(*this);
  std::vector<FinishedView> group;
  // The finished views take kGroupSets sets of images in turn, so that a
  // group's views stay as they are while the next groups are made.
  groupBlended.resize(kGroupSets * kViewsPerGroup);
  groupTurned.resize(kGroupSets * kViewsPerGroup);
  for (const std::vector<cv::Point>& places : viewGroups(viewNum, kViewsPerGroup)) {
    const int count = static_cast<int>(places.size());
    cv::Mat* const blended = &groupBlended[groupSet * kViewsPerGroup];
    cv::Mat* const turned = &groupTurned[groupSet * kViewsPerGroup];
    groupSet = (groupSet + 1) % kGroupSets;
    for (int t = 0; t < 3; ++t) groupViews[t].resize(std::max<size_t>(groupViews[t].size(), count));

    // The group's views other than the centre get the group's images, whose
    // pixels the rendering reuses.
    std::vector<cv::Point> toRender;
    std::vector<int> slots;
    for (int i = 0; i < count; ++i) {
      const cv::Point at = places[i];
      if (at == centre) continue;
      for (int t = 0; t < 3; ++t) multiViewImage[t][at.x][at.y] = groupViews[t][i];
      toRender.push_back(at);
      slots.push_back(i);
    }
    if (!toRender.empty()) renderViewGroup(toRender);
    done("renderMultiViewImage");
    for (const cv::Point at : toRender) shiftLensTypes(at, typeShift);
    done("alignLensTypes");

    group.resize(count);
    parallelForEach(count, [&](int i) {
      const cv::Point at = places[i];
      const cv::Mat sources[3] = {multiViewImage[0][at.x][at.y], multiViewImage[1][at.x][at.y],
                                  multiViewImage[2][at.x][at.y]};
      blend.blend(sources, blended[i]);
    });
    done("blendLensTypes");
    for (int i = 0; i < count; ++i) {
      group[i].place = places[i];
      group[i].view = blended[i];
      cropAndOrientView(group[i].view, turned[i]);
    }
    done("cropAndOrientViews");

    // The images go back to the group (the first frame's rendering made
    // them); the grid keeps only the centre views.
    for (size_t n = 0; n < toRender.size(); ++n) {
      const cv::Point at = toRender[n];
      for (int t = 0; t < 3; ++t) {
        groupViews[t][slots[n]] = multiViewImage[t][at.x][at.y];
        multiViewImage[t][at.x][at.y].release();
      }
    }
    finished(group);
  }
}

}  // namespace plenoview
