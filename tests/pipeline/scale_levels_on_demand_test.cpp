// The views rendered from windows computed on demand against the views
// rendered one lens after another from levels built whole: every byte of
// every view and every console line must be the same, with one thread or two.

#include "calibration/lens_calibration.h"
#include "pipeline/estimate_patch_sizes.h"
#include "pipeline/scored_pixels.h"
#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>
#include <sstream>
#include <string>

namespace plenoview {
namespace {

using testing::linesInto;
using testing::makeRenderer;
using testing::PipelineRun;
using testing::sameGrid;
using testing::sameImage;

struct GridCase {
  double diameter;
  int viewNum;
  int type;
  double rotation;
  cv::Size frame;
  double offsetX;  // grid centre from the frame centre
  double offsetY;
};

std::string describe(const GridCase& c) {
  std::ostringstream text;
  text << "diameter " << c.diameter << " N " << c.viewNum << " channels " << CV_MAT_CN(c.type)
       << " rotation " << c.rotation << " frame " << c.frame;
  return text.str();
}

LensCalibration calibrationFor(const GridCase& c, const std::string& dir) {
  const std::string path = dir + "/calib.xml";
  testing::writeTextFile(path, testing::CalibrationXml()
                                   .set("diameter", cv::format("%g", c.diameter))
                                   .set("rotation", cv::format("%g", c.rotation))
                                   .set("offset.x", cv::format("%g", c.offsetX))
                                   .set("offset.y", cv::format("%g", c.offsetY)));
  LensCalibration calib;
  readCalibration(calib, cv::Mat(c.frame, c.type), path);
  return calib;
}

// Blurred noise with bright and dark discs: every sample differs from its
// neighbours, and the lens windows see edges.
cv::Mat textureFrame(cv::Size size, int type, uint64 seed) {
  cv::Mat frame(size, type);
  cv::RNG rng(seed);
  rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(frame, frame, cv::Size(3, 3), 0.8);
  for (int n = 0; n < 12; ++n) {
    const cv::Point centre(rng.uniform(0, size.width), rng.uniform(0, size.height));
    cv::circle(frame, centre, rng.uniform(2, 9), cv::Scalar::all(rng.uniform(0, 256)), -1);
  }
  return frame;
}

// Patch sizes across every level and beyond (0 and 250 have no level).
void randomPatchSizes(MultiViewRenderer& renderer, uint64 seed) {
  cv::RNG rng(seed);
  const int largest = renderer.candidatePatchSizes.back();
  for (cv::Mat& sizes : renderer.patchSize) {
    for (int r = 0; r < sizes.rows; ++r) {
      for (int c = 0; c < sizes.cols; ++c) {
        const int pick = rng.uniform(0, 20);
        sizes.at<uchar>(r, c) = pick == 0   ? 0
                                : pick == 1 ? 250
                                            : static_cast<uchar>(rng.uniform(1, largest + 1));
      }
    }
  }
}

// One renderer per way of reading the levels, on the grid of `c`, each with
// its console and its frame's images: both have prepared the same texture
// frame and hold the same random patch sizes, made from `seed`.
struct RendererPair {
  struct Side {
    std::string text;
    std::unique_ptr<MultiViewRenderer> renderer;
    FrameImages images;
  };

  RendererPair(const GridCase& c, const std::string& dir, uint64 seed) {
    const LensCalibration calib = calibrationFor(c, dir);
    RendererOptions whole = linesInto(built.text);
    whole.buildAllScaleLevels = true;
    built.renderer = makeRenderer(calib, c.viewNum, whole);
    demand.renderer = makeRenderer(calib, c.viewNum, linesInto(demand.text));
    const cv::Mat frame = textureFrame(c.frame, c.type, seed);
    for (Side* side : {&built, &demand}) {
      side->images = testing::frameImagesFor(*side->renderer);
      side->images.rawImage = frame.clone();
      side->renderer->prepareRawImage(side->images);
      randomPatchSizes(*side->renderer, seed);
    }
  }
  RendererPair(const RendererPair&) = delete;  // the sinks point into it
  RendererPair& operator=(const RendererPair&) = delete;

  Side built;
  Side demand;
};

// Every view of every lens type.
::testing::AssertionResult sameViews(const FrameImages& a, const FrameImages& b) {
  for (int type = 0; type < kLensTypes; ++type) {
    ::testing::AssertionResult same = sameGrid(a.multiViewImage[type], b.multiViewImage[type]);
    if (!same) return same << " of type " << type;
  }
  return ::testing::AssertionSuccess();
}

// Renders in both ways with the same patch sizes, each console cleared first:
// every view, or only `view` at `size` when `size` is given (into that view's
// place of the grids).
void renderBoth(RendererPair& pair, int size = 0, cv::Point view = {}) {
  for (RendererPair::Side* side : {&pair.built, &pair.demand}) {
    side->text.clear();
    const MultiViewRenderer& renderer = *side->renderer;
    if (size == 0) {
      renderer.renderMultiViewImage(side->images, renderer.options.outOfRangeLines);
    } else {
      for (int type = 0; type < kLensTypes; ++type) {
        cv::Mat typeView;
        renderer.renderTypeViewAtSize(side->images, type, view, size, typeView,
                                      renderer.options.outOfRangeLines);
        side->images.multiViewImage[type][view.x][view.y] = typeView;
      }
    }
  }
}

// Restores OpenCV's thread count when a test ends.
class ThreadCount {
 public:
  ThreadCount() : saved_(cv::getNumThreads()) {}
  ~ThreadCount() { cv::setNumThreads(saved_); }

 private:
  int saved_;
};

// Integral and fractional diameters, grey and colour, rotated grids, view
// counts odd and even; the grids reach the frames' edges, where windows leave
// the levels and the views. The last is centred near the bottom-right corner
// with N = 5: its outer views move windows past the levels' right and bottom
// edges, and destinations out of the views, so that its frames print lines.
const GridCase kCases[] = {
    {9.0, 3, CV_8UC1, 0.0, {83, 61}, 0.0, 0.0},     {9.0, 4, CV_8UC3, 0.012, {70, 58}, 1.5, -2.0},
    {11.6, 5, CV_8UC3, -0.03, {96, 75}, -3.0, 1.0}, {12.25, 3, CV_8UC1, 0.2, {101, 88}, 0.5, 0.5},
    {14.0, 5, CV_8UC1, 0.9, {90, 90}, 0.0, -1.0},   {16.7, 2, CV_8UC3, -0.005, {120, 97}, 2.0, 3.0},
    {10.5, 5, CV_8UC3, 0.0, {64, 50}, 4.0, -3.0},
};
const GridCase& kEdgeCase = kCases[6];

TEST(ScaleLevelsOnDemand, RenderTheViewsOfTheBuiltLevels) {
  const std::string dir = testing::makeTestDir();
  uint64 seed = 40;
  for (const GridCase& c : kCases) {
    RendererPair pair(c, dir, ++seed);
    const ScaleLevelWindows& windows = pair.demand.images.scaleLevelWindows;
    const std::vector<cv::Mat>& levels = pair.built.images.scaledRawImage[0];
    ASSERT_EQ(windows.levelCount(), static_cast<int>(levels.size())) << describe(c);
    for (int i = 0; i < windows.levelCount(); ++i) {
      EXPECT_EQ(windows.levelSize(i), levels[i].size()) << describe(c) << " level " << i;
    }

    // Every view of every type, each lens at its own size; the window lines
    // in the same order.
    renderBoth(pair);
    EXPECT_TRUE(sameViews(pair.demand.images, pair.built.images)) << describe(c);
    EXPECT_EQ(pair.demand.text, pair.built.text) << describe(c);
    if (&c == &kEdgeCase) {
      EXPECT_NE(pair.built.text.find("Out of Roi Range: ("), std::string::npos);
    }

    // One grey view at each candidate size, at the centre and at a corner.
    const MultiViewRenderer& renderer = *pair.demand.renderer;
    for (const int size : renderer.candidatePatchSizes) {
      for (const cv::Point view : {renderer.centerView, cv::Point(c.viewNum - 1, 0)}) {
        renderBoth(pair, size, view);
        for (int type = 0; type < kLensTypes; ++type) {
          EXPECT_TRUE(sameImage(pair.demand.images.multiViewImage[type][view.x][view.y],
                                pair.built.images.multiViewImage[type][view.x][view.y]))
              << describe(c) << " size " << size << " view " << view << " type " << type;
        }
        EXPECT_EQ(pair.demand.text, pair.built.text)
            << describe(c) << " size " << size << " view " << view;
      }
    }
  }
}

TEST(ScaleLevelsOnDemand, MasksWithHolesAndPartialValuesRenderAsFromBuiltLevels) {
  // The disc the renderer draws is 255 from the first to the last non-zero
  // pixel of each row, which the merges on demand use; any other mask goes
  // through its bytes: here one with a hole, a pixel below 255 and a row
  // split in two, grey and colour.
  const std::string dir = testing::makeTestDir();
  for (const GridCase* c : {&kCases[0], &kCases[2]}) {
    RendererPair pair(*c, dir, 77);
    for (RendererPair::Side* side : {&pair.built, &pair.demand}) {
      cv::Mat& mask = side->renderer->lensMask;
      mask.at<uchar>(mask.rows / 2, mask.cols / 2) = 0;
      mask.at<uchar>(mask.rows / 2, mask.cols / 2 + 1) = 128;
      mask.row(mask.rows / 2 - 1).colRange(2, 4).setTo(0);
    }
    renderBoth(pair);
    EXPECT_TRUE(sameViews(pair.demand.images, pair.built.images)) << describe(*c);
    const cv::Point centre = pair.demand.renderer->centerView;
    renderBoth(pair, pair.demand.renderer->candidatePatchSizes.back(), centre);
    for (int type = 0; type < kLensTypes; ++type) {
      EXPECT_TRUE(sameImage(pair.demand.images.multiViewImage[type][centre.x][centre.y],
                            pair.built.images.multiViewImage[type][centre.x][centre.y]))
          << describe(*c) << " type " << type;
    }
  }
}

TEST(ScaleLevelsOnDemand, RimLaplacianGivesTheScoresOfTheWholeLaplacian) {
  // The estimation on demand takes the Laplacian only on the rims: every
  // lens's score, at every candidate size, must be that of the whole
  // Laplacian. Ring shapes from the smallest diameter to fractional ones,
  // turned grids, and the edge case, whose rims leave the view. The Laplacian
  // starts out at 77, so that a rim pixel left out would show.
  const std::string dir = testing::makeTestDir();
  std::vector<GridCase> cases(std::begin(kCases), std::end(kCases));
  cases.push_back({6.0, 3, CV_8UC3, 0.05, {48, 40}, 0.5, 0.0});
  cases.push_back({7.5, 4, CV_8UC1, -0.2, {60, 44}, -1.0, 1.5});
  uint64 seed = 90;
  for (const GridCase& c : cases) {
    RendererPair pair(c, dir, ++seed);
    const MultiViewRenderer& renderer = *pair.demand.renderer;
    const cv::Point view = renderer.centerView;
    const int border = pair.demand.images.rawBorder;
    const ScoredPixels scored = scoredPixelsOf(renderer, view, border);
    for (const int size : renderer.candidatePatchSizes) {
      for (int type = 0; type < kLensTypes; ++type) {
        cv::Mat typeView;
        renderer.renderTypeViewAtSize(pair.demand.images, type, view, size, typeView, LineSink());
        cv::Mat whole;
        cv::Laplacian(typeView, whole, CV_8U, 1, 3.0, 0.0, cv::BORDER_REFLECT_101);
        cv::Mat rims(typeView.size(), CV_8UC1, cv::Scalar::all(77));
        rimLaplacian(typeView, scored.rimRowStart[type], scored.rimRuns[type], rims);
        EXPECT_TRUE(sameImage(scoreLensEdges(renderer, rims, type, view, border, LineSink()),
                              scoreLensEdges(renderer, whole, type, view, border, LineSink())))
            << describe(c) << " size " << size << " type " << type;
      }
    }
  }
}

TEST(ScaleLevelsOnDemand, ViewsRenderedAgainKeepNothingOfTheirOldPixels) {
  // The views are zeroed row by row as the lenses reach them: whatever they
  // held before (here 77 everywhere) must be gone, between the lenses and
  // below the last one too, in both modes.
  const std::string dir = testing::makeTestDir();
  uint64 seed = 70;
  for (const GridCase& c : {kCases[0], kCases[2], kCases[5]}) {
    RendererPair pair(c, dir, ++seed);
    FrameImages& demand = pair.demand.images;
    const MultiViewRenderer& renderer = *pair.demand.renderer;
    const cv::Point centre = renderer.centerView;
    for (const bool singleView : {false, true}) {
      const int size = singleView ? renderer.candidatePatchSizes.back() : 0;
      renderBoth(pair, size, centre);
      for (ViewGrid& grid : demand.multiViewImage) {
        for (std::vector<cv::Mat>& column : grid) {
          for (cv::Mat& view : column) view.setTo(cv::Scalar::all(77));
        }
      }
      renderBoth(pair, size, centre);
      for (int type = 0; type < kLensTypes; ++type) {
        EXPECT_TRUE(sameImage(demand.multiViewImage[type][centre.x][centre.y],
                              pair.built.images.multiViewImage[type][centre.x][centre.y]))
            << describe(c) << (singleView ? " single view" : " all views") << " type " << type;
      }
      if (!singleView) {
        EXPECT_TRUE(sameViews(demand, pair.built.images)) << describe(c);
      }
      EXPECT_EQ(pair.demand.text, pair.built.text) << describe(c);
    }
  }
}

TEST(ScaleLevelsOnDemand, FramesGiveTheOutputOfBuiltLevelsOnOneThreadWholeOrStreamed) {
  // Levels built whole or computed on demand, on one, two or four threads, rendered
  // into a whole grid and streamed group by group, against levels built whole
  // on one thread: the same views, lines and patch sizes. Two frames each, so
  // that the second reuses what the first left behind. Besides the edge case
  // (lines) a turned grey grid, and N = 9, whose grid rows go in two groups
  // (4 and 5 views).
  ThreadCount restore;
  const std::string dir = testing::makeTestDir();
  const GridCase cases[] = {
      kCases[1], kCases[3], kEdgeCase, kCases[4], {9.0, 9, CV_8UC3, 0.012, {90, 80}, 1.0, -1.0}};
  uint64 seed = 120;
  for (const GridCase& c : cases) {
    const LensCalibration calib = calibrationFor(c, dir);
    const cv::Mat frames[2] = {textureFrame(c.frame, c.type, ++seed),
                               textureFrame(c.frame, c.type, ++seed)};
    // The reference after each frame: its views, its lines so far, its patch sizes.
    cv::setNumThreads(1);
    std::string referenceText;
    RendererOptions builtWhole = linesInto(referenceText);
    builtWhole.buildAllScaleLevels = true;
    PipelineRun reference(calib, c.viewNum, builtWhole);
    ViewGrid referenceGrid[2];
    std::string referenceLines[2];
    cv::Mat referenceSizes[2][kLensTypes];
    for (int f = 0; f < 2; ++f) {
      reference.pipeline.processFrame(frames[f], referenceGrid[f]);
      referenceLines[f] = referenceText;
      for (int t = 0; t < kLensTypes; ++t)
        referenceSizes[f][t] = reference.renderer.patchSize[t].clone();
    }
    if (&c == &cases[2]) {
      EXPECT_NE(referenceText.find("Out of Roi Range"), std::string::npos) << "the edge case";
    }

    for (const bool builtLevels : {false, true}) {
      for (const int threads : {1, 2, 4}) {
        cv::setNumThreads(threads);
        std::string wholeText;
        std::string streamText;
        RendererOptions wholeOptions = linesInto(wholeText);
        RendererOptions streamOptions = linesInto(streamText);
        wholeOptions.buildAllScaleLevels = streamOptions.buildAllScaleLevels = builtLevels;
        PipelineRun whole(calib, c.viewNum, wholeOptions);
        PipelineRun streamed(calib, c.viewNum, streamOptions);
        for (int f = 0; f < 2; ++f) {
          const std::string what = describe(c) + (builtLevels ? " built levels" : " on demand") +
                                   " threads " + std::to_string(threads) + " frame " +
                                   std::to_string(f);
          ViewGrid grid;
          whole.pipeline.processFrame(frames[f], grid);
          EXPECT_TRUE(sameGrid(grid, referenceGrid[f])) << what;
          std::vector<cv::Point> seen;
          streamed.pipeline.processFrame(frames[f], [&](const std::vector<FinishedView>& group) {
            EXPECT_LE(group.size(), static_cast<size_t>(kViewsPerGroup));
            for (const FinishedView& v : group) {
              seen.push_back(v.place);
              EXPECT_TRUE(sameImage(v.view, referenceGrid[f][v.place.x][v.place.y]))
                  << what << " view " << v.place;
            }
          });
          // Every view once, y outer, x inner.
          ASSERT_EQ(seen.size(), static_cast<size_t>(c.viewNum * c.viewNum)) << what;
          for (int i = 0; i < c.viewNum * c.viewNum; ++i) {
            EXPECT_EQ(seen[i], cv::Point(i % c.viewNum, i / c.viewNum)) << what;
          }
          EXPECT_EQ(wholeText, referenceLines[f]) << what;
          EXPECT_EQ(streamText, referenceLines[f]) << what;
          for (int type = 0; type < kLensTypes; ++type) {
            EXPECT_TRUE(sameImage(whole.renderer.patchSize[type], referenceSizes[f][type])) << what;
            EXPECT_TRUE(sameImage(streamed.renderer.patchSize[type], referenceSizes[f][type]))
                << what;
          }
        }
        // The lens types' views of the last frame, as the whole grid left them.
        EXPECT_TRUE(sameViews(whole.pipeline.images(), reference.pipeline.images())) << describe(c);
      }
    }
  }
}

}  // namespace
}  // namespace plenoview
