#include "io/png_row_filters.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace plenoview {
namespace {

using Bytes = std::vector<uchar>;

Bytes filtered(PngFilter filter, const Bytes& row, const Bytes* above, int channels) {
  Bytes out(row.size());
  filterRow(filter, row.data(), above ? above->data() : nullptr, static_cast<int>(row.size()),
            channels, out.data());
  return out;
}

// Two colour pixels under two others; the predictions worked out by hand,
// the differences modulo 256.
TEST(FilterRow, GivesEachFilterItsPredictionFromTheSameChannel) {
  const Bytes row = {10, 20, 30, 40, 50, 60};
  const Bytes above = {60, 2, 3, 100, 0, 255};
  struct Case {
    PngFilter filter;
    Bytes withAbove;
    Bytes firstRow;  // nothing above: all zero
  };
  const Case cases[] = {
      {PngFilter::kNone, {10, 20, 30, 40, 50, 60}, {10, 20, 30, 40, 50, 60}},
      // 40 - 10, 50 - 20, 60 - 30
      {PngFilter::kSub, {10, 20, 30, 30, 30, 30}, {10, 20, 30, 30, 30, 30}},
      // 10 - 60 = -50 = 206, 40 - 100 = 196, 60 - 255 = -195 = 61
      {PngFilter::kUp, {206, 18, 27, 196, 50, 61}, {10, 20, 30, 40, 50, 60}},
      // 10 - 60/2 = 236, 20 - 1, 30 - 1; 40 - (10 + 100)/2 = 241,
      // 50 - (20 + 0)/2 = 40, 60 - (30 + 255)/2 = 60 - 142 = 174.
      // First row: 40 - 5, 50 - 10, 60 - 15.
      {PngFilter::kAverage, {236, 19, 29, 241, 40, 174}, {10, 20, 30, 35, 40, 45}},
      // First pixel: a = c = 0, so b. Second: (a, b, c) = (10, 100, 60):
      // p = 50, |p-a| 40, |p-b| 50, |p-c| 10: c, 40 - 60 = 236;
      // (20, 0, 2): p = 18, distances 2, 18, 16: a, 50 - 20 = 30;
      // (30, 255, 3): p = 282, distances 252, 27, 279: b, 60 - 255 = 61.
      // First row: b = c = 0, so a: Sub's bytes.
      {PngFilter::kPaeth, {206, 18, 27, 236, 30, 61}, {10, 20, 30, 30, 30, 30}},
  };
  for (const Case& c : cases) {
    const int type = static_cast<int>(c.filter);
    EXPECT_EQ(filtered(c.filter, row, &above, 3), c.withAbove) << "filter " << type;
    EXPECT_EQ(filtered(c.filter, row, nullptr, 3), c.firstRow) << "filter " << type;
  }
  // One byte a pixel: the left neighbour is the byte before.
  EXPECT_EQ(filtered(PngFilter::kSub, {5, 7, 4}, nullptr, 1), (Bytes{5, 2, 253}));
  // A row narrower than a pixel's bytes is all first pixel.
  EXPECT_EQ(filtered(PngFilter::kPaeth, {5}, nullptr, 3), (Bytes{5}));
}

// Paeth's predictor as first written: nearest to p = a + b - c, ties a, b, c.
int paethAsWritten(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

TEST(FilterRow, PaethPredictsAsWrittenForEveryNeighbourhood) {
  // Byte 1 of a one-channel row: a = row[0], b = above[1], c = above[0];
  // with row[1] = 0 the filtered byte is -prediction.
  int wrong = 0;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      for (int c = 0; c < 256; ++c) {
        const uchar row[2] = {static_cast<uchar>(a), 0};
        const uchar above[2] = {static_cast<uchar>(c), static_cast<uchar>(b)};
        uchar out[2];
        filterRow(PngFilter::kPaeth, row, above, 2, 1, out);
        if (out[1] != static_cast<uchar>(-paethAsWritten(a, b, c)) && ++wrong <= 5) {
          ADD_FAILURE() << "a " << a << " b " << b << " c " << c;
        }
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(FilterRowSmallest, PicksTheFilterOfTheLeastAbsoluteSum) {
  struct Case {
    const char* what;
    Bytes row;
    Bytes above;  // empty: the first row
    PngFilter expected;
    Bytes bytes;
  };
  const Case cases[] = {
      // Every filter gives zeros: the lowest type.
      {"zeros", {0, 0, 0, 0}, {}, PngFilter::kNone, {0, 0, 0, 0}},
      // A ramp: Sub leaves steps of 10 (sum 40); Paeth gives the same bytes
      // on a first row, and the lower type wins the tie.
      {"ramp", {10, 20, 30, 40}, {}, PngFilter::kSub, {10, 10, 10, 10}},
      // The row repeats the one above: Up leaves zeros.
      {"repeat", {200, 3, 90, 17}, {200, 3, 90, 17}, PngFilter::kUp, {0, 0, 0, 0}},
      // Left part as above, right part flat: Paeth predicts from above up to
      // the edge and from the left after it (0, 0, 200 - 90, 0, 0: sum 110).
      // Sub: 10, 40, 150 = -106, 0, 0 (156); Up: 0, 0, 110, 110, 110 (330);
      // None 228; Average 261.
      {"edges",
       {10, 50, 200, 200, 200},
       {10, 50, 90, 90, 90},
       PngFilter::kPaeth,
       {0, 0, 110, 0, 0}},
      // Bytes of 250 and up count as small negative numbers: None's sum is
      // 6 + 4 + 2 + 1 = 13, Sub's 6 + 2 + 2 + 1 = 11.
      {"negative", {250, 252, 254, 255}, {}, PngFilter::kSub, {250, 2, 2, 1}},
  };
  for (const Case& c : cases) {
    Bytes out(c.row.size());
    Bytes scratch(2 * c.row.size());
    const PngFilter chosen =
        filterRowSmallest(c.row.data(), c.above.empty() ? nullptr : c.above.data(),
                          static_cast<int>(c.row.size()), 1, out.data(), scratch.data());
    EXPECT_EQ(chosen, c.expected) << c.what;
    EXPECT_EQ(out, c.bytes) << c.what;
  }
}

}  // namespace
}  // namespace plenoview
