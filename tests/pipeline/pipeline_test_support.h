#pragma once

#include "base/line_sink.h"
#include "calibration/lens_calibration.h"
#include "pipeline/frame_pipeline.h"
#include "renderer/frame_images.h"
#include "renderer/multi_view_renderer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <memory>
#include <string>

namespace plenoview::testing {

// Every reference lens at (0, 0): a test then places the lenses itself.
inline const cv::Point2d kRefsAtOrigin[2][3] = {};

// A hand-made lens grid: `refs[parity][type]` are the reference lens centres,
// rotation 0, centre `center`.
inline LensCalibration makeCalibration(double diameter, cv::Point num,
                                       const cv::Point2d (&refs)[2][3] = kRefsAtOrigin,
                                       cv::Point2d center = {0.0, 0.0}) {
  LensCalibration calib;
  calib.diameter = diameter;
  calib.radius = diameter * 0.5;
  calib.rotation = 0.0;
  calib.num = num;
  calib.center = center;
  for (int parity = 0; parity < 2; ++parity) {
    for (int t = 0; t < 3; ++t) calib.subGridRefPos[parity][t] = refs[parity][t];
  }
  return calib;
}

// A renderer with N views per side, on the heap (it cannot be copied). Its
// window lines are dropped unless `options` gives them a sink.
inline std::unique_ptr<MultiViewRenderer> makeRenderer(const LensCalibration& calib, int N,
                                                       RendererOptions options = {}) {
  return std::make_unique<MultiViewRenderer>(calib, N, std::move(options));
}

// A renderer and the pipeline that runs it, for tests that process frames.
struct PipelineRun {
  PipelineRun(const LensCalibration& calib, int N, RendererOptions options = {})
      : renderer(calib, N, std::move(options)), pipeline(renderer) {}

  MultiViewRenderer renderer;
  FramePipeline pipeline;
};

// A frame's images for `renderer`, its lens-type grids N x N of empty views.
inline FrameImages frameImagesFor(const MultiViewRenderer& renderer) {
  FrameImages images;
  const int N = renderer.viewNum;
  for (ViewGrid& grid : images.multiViewImage) grid.assign(N, std::vector<cv::Mat>(N));
  return images;
}

// Options whose window lines are appended to `text`, each with its newline,
// as the console shows them.
inline RendererOptions linesInto(std::string& text) {
  RendererOptions options;
  options.outOfRangeLines = [&text](const std::string& line) { text += line + '\n'; };
  return options;
}

// The fixture of the stages' tests: a renderer whose window lines go to
// `console`, and a frame's images for it.
class StageTest : public ::testing::Test {
 protected:
  void makeStage(const LensCalibration& calib, int N) {
    renderer = makeRenderer(calib, N, linesInto(console));
    images = frameImagesFor(*renderer);
  }
  // Where the stages' window lines go: into `console`.
  const LineSink& lines() const { return renderer->options.outOfRangeLines; }

  std::string console;
  std::unique_ptr<MultiViewRenderer> renderer;
  FrameImages images;
};

// Exact comparison of two grids of views, view by view.
inline ::testing::AssertionResult sameGrid(const ViewGrid& a, const ViewGrid& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "grid sizes differ";
  for (size_t x = 0; x < a.size(); ++x) {
    if (a[x].size() != b[x].size()) return ::testing::AssertionFailure() << "column sizes differ";
    for (size_t y = 0; y < a[x].size(); ++y) {
      ::testing::AssertionResult same = sameImage(a[x][y], b[x][y]);
      if (!same) return same << " in view " << x << "," << y;
    }
  }
  return ::testing::AssertionSuccess();
}

// Places the reference lens of `type` at `even` for even rows and `odd` for odd rows.
inline void placeType(MultiViewRenderer& renderer, int type, cv::Point2d even, cv::Point2d odd) {
  renderer.calib.subGridRefPos[0][type] = even;
  renderer.calib.subGridRefPos[1][type] = odd;
}

}  // namespace plenoview::testing
