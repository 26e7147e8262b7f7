#include "windows/patch_map_picture.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

using testing::sameImage;

// One row of patch-map values.
cv::Mat row(std::initializer_list<uchar> values) {
  return cv::Mat(std::vector<uchar>(values), true).t();
}

TEST(PatchMapPicture, LargestCandidateIsBlackEmptyIsWhiteAndHalvesRoundToEven) {
  // Largest candidate 8: v gives 255 - 31.875 v: 0 -> 255, 1 -> 223.125 ->
  // 223, 3 -> 159.375 -> 159, 4 -> 127.5 -> 128 (tie to even), 5 -> 95.625 ->
  // 96, 7 -> 31.875 -> 32, 8 -> 0, and past it the value saturates at 0.
  EXPECT_TRUE(sameImage(patchMapPicture(row({0, 1, 3, 4, 5, 7, 8, 9, 255}), {3, 4, 5, 6, 7, 8}),
                        row({255, 223, 159, 128, 96, 32, 0, 0, 0})));
  struct Case {
    int largest;
    uchar v;
    uchar expected;
  };
  const Case cases[] = {
      {10, 1, 230},   // 255 - 25.5 = 229.5 -> 230
      {10, 3, 178},   // 255 - 76.5 = 178.5 -> 178, not 179
      {6, 1, 212},    // 255 - 42.5 = 212.5 -> 212
      {42, 21, 128},  // 255 - 127.5 -> 128 (a float scale factor gives 127)
      {90, 51, 110},  // 255 - 144.5 -> 110 (a float scale factor gives 111)
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(sameImage(patchMapPicture(row({c.v}), {3, c.largest}), row({c.expected})))
        << "largest " << c.largest << " v " << int(c.v);
  }
}

TEST(PatchMapPicture, WithoutCandidatesAllIsWhiteAndAnEmptyMapGivesNothing) {
  EXPECT_TRUE(sameImage(patchMapPicture(row({0, 3, 8}), {}), row({255, 255, 255})));
  EXPECT_TRUE(patchMapPicture(cv::Mat(), {3, 4}).empty());
}

}  // namespace
}  // namespace plenoview
