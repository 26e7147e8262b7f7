#include "renderer/multi_view_renderer.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace plenoview {
namespace {

using testing::sameImage;

// A renderer for lenses of `diameter`: its largest candidate patch size is
// diameter - 2.
std::unique_ptr<MultiViewRenderer> rendererFor(int diameter) {
  return testing::makeRenderer(testing::makeCalibration(diameter, {1, 1}), 3);
}

// One row of patch-map values.
cv::Mat row(std::initializer_list<uchar> values) {
  cv::Mat m(1, static_cast<int>(values.size()), CV_8UC1);
  int i = 0;
  for (uchar v : values) m.at<uchar>(0, i++) = v;
  return m;
}

TEST(VisualizePatchMap, LargestCandidateIsBlackAndEmptyIsWhite) {
  // Diameter 10: candidates 3 .. 8, S = 8, so v gives 255 - 31.875 v:
  // 0 -> 255, 1 -> 223.125 -> 223, 3 -> 159.375 -> 159, 4 -> 127.5 -> 128
  // (tie to even), 5 -> 95.625 -> 96, 7 -> 31.875 -> 32, 8 -> 0, and past S
  // the value goes negative and saturates at 0.
  auto renderer = rendererFor(10);
  ASSERT_EQ(renderer->candidatePatchSizes.back(), 8);
  renderer->patchMap[0] = row({0, 1, 3, 4, 5, 7, 8, 9, 255});
  renderer->patchMap[1] = row({8, 0});
  renderer->patchMap[2] = row({4});
  renderer->visualizePatchMap();
  EXPECT_TRUE(sameImage(renderer->patchMapVis[0], row({255, 223, 159, 128, 96, 32, 0, 0, 0})));
  EXPECT_TRUE(sameImage(renderer->patchMapVis[1], row({0, 255})));
  EXPECT_TRUE(sameImage(renderer->patchMapVis[2], row({128})));
  // The maps themselves are left alone.
  EXPECT_TRUE(sameImage(renderer->patchMap[1], row({8, 0})));
}

TEST(VisualizePatchMap, HalfwayValuesRoundToEven) {
  struct Case {
    int diameter;  // largest candidate S = diameter - 2
    uchar v;
    uchar expected;
  };
  const Case cases[] = {
      {12, 1, 230},   // S 10: 255 - 25.5 = 229.5 -> 230
      {12, 3, 178},   // S 10: 255 - 76.5 = 178.5 -> 178, not 179
      {8, 1, 212},    // S 6: 255 - 42.5 = 212.5 -> 212
      {44, 21, 128},  // S 42: 255 - 127.5 = 127.5 -> 128 (a float scale factor gives 127)
      {92, 51, 110},  // S 90: 255 - 144.5 = 110.5 -> 110 (a float scale factor gives 111)
  };
  for (const Case& c : cases) {
    auto renderer = rendererFor(c.diameter);
    for (int t = 0; t < 3; ++t) renderer->patchMap[t] = row({c.v});
    renderer->visualizePatchMap();
    EXPECT_TRUE(sameImage(renderer->patchMapVis[2], row({c.expected})))
        << "diameter " << c.diameter << " v " << int(c.v);
  }
}

TEST(VisualizePatchMap, NoCandidatesShowsWhiteAndReadsNothingOutsideTheList) {
  auto renderer = rendererFor(10);
  renderer->candidatePatchSizes.clear();
  renderer->candidatePatchSizes.shrink_to_fit();
  for (int t = 0; t < 3; ++t) renderer->patchMap[t] = row({0, 3, 8});
  renderer->visualizePatchMap();
  for (int t = 0; t < 3; ++t)
    EXPECT_TRUE(sameImage(renderer->patchMapVis[t], row({255, 255, 255})));
}

TEST(VisualizePatchMap, EmptyMapGivesEmptyPicture) {
  auto renderer = rendererFor(10);
  renderer->patchMapVis[0] = row({1, 2});
  renderer->visualizePatchMap();
  for (int t = 0; t < 3; ++t) EXPECT_TRUE(renderer->patchMapVis[t].empty());
}

}  // namespace
}  // namespace plenoview
