#include "pipeline/view_position.h"

#include "tests/pipeline/pipeline_test_support.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

using testing::makeCalibration;
using testing::makeRenderer;

TEST(ViewPosition, ShrinksTheLensGridAboutTheTypesEvenRowReference) {
  // Diameter 9, radius 4.5: q = 3.5 / 9; rows sqrt(3) x 4.5 = 7.7942 apart.
  // N = 3: centre view (1, 1); rawBorder 1 as a prepared frame leaves it.
  const cv::Point2d refs[2][3] = {{{10, 10}, {19, 10}, {28, 10}},
                                  {{23.5, 99}, {32.5, 99}, {14.5, 99}}};
  auto renderer = makeRenderer(makeCalibration(9.0, {2, 2}, refs), 3);
  const int rawBorder = 1;
  struct Case {
    cv::Size mask;
    int type, row, column;
    cv::Point view;
    bool shifted;
    cv::Rect expected;
  };
  const Case cases[] = {
      // Row 0, column 0 of type 1, unshifted: (19 - 4.5, 10 - 4.5) = (14.5, 5.5) -> (14, 6).
      {{9, 9}, 1, 0, 0, {1, 1}, false, {14, 6, 9, 9}},
      // Shifted, centre view: only rawBorder is added: (1 x q + 14.5, 1 x q + 5.5) =
      // (14.889, 5.889).
      {{9, 9}, 1, 0, 0, {1, 1}, true, {15, 6, 9, 9}},
      // Type 0, row 1, column 1, view (2, 0): Px = 27 + 23.5 + 1 + 1 = 52.5, Py = 7.7942 + 10 - 1 +
      // 1;
      // left = 42.5 x q + 5.5 = 22.03, top = 7.7942 x q + 5.5 = 8.53. The odd row takes
      // its x reference from the odd entry but its y from the even one (99 is never read).
      {{9, 9}, 0, 1, 1, {2, 0}, true, {22, 9, 9, 9}},
      // Unshifted (patch map): Px = 50.5: 40.5 x q + 5.5 = 21.25 -> 21.
      {{9, 9}, 0, 1, 1, {2, 0}, false, {21, 9, 9, 9}},
      // An 11 x 11 window (rim mask) is centred the same way: 42.5 x q + 4.5 = 21.03, 3.031 + 4.5
      // = 7.53.
      {{11, 11}, 0, 1, 1, {2, 0}, true, {21, 8, 11, 11}},
      // Type 2, row 1, column 0, view (0, 2): Px = 14.5 - 1 + 1 = 14.5; (14.5 - 28) x q + 23.5
      // = 18.25;
      // Py = 7.7942 + 10 + 1 + 1: 9.7942 x q + 5.5 = 9.31.
      {{9, 9}, 2, 1, 0, {0, 2}, true, {18, 9, 9, 9}},
  };
  for (const Case& c : cases) {
    const cv::Rect position =
        c.shifted ? renderer->viewPosition(c.mask, c.type, c.row, c.column, c.view, rawBorder)
                  : renderer->viewPosition(c.mask, c.type, c.row, c.column);
    EXPECT_EQ(position, c.expected) << "type " << c.type << " lens " << c.row << "," << c.column
                                    << " view " << c.view << (c.shifted ? " shifted" : "");
  }
}

}  // namespace
}  // namespace plenoview
