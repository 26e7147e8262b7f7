#include "pipeline/widened_spans.h"

#include <gtest/gtest.h>

namespace plenoview {
namespace {

TEST(WidenSpans, ShortSpansGrowToTheMinimumInsideTheRow) {
  struct Case {
    ColumnSpan span;
    int rowLength;
    ColumnSpan expected;
  };
  const Case cases[] = {
      {{2, 5}, 40, {2, 18}},     // grows to the right
      {{30, 35}, 40, {24, 40}},  // would pass the row's end: moved left
      {{0, 0}, 40, {0, 0}},      // an empty row stays empty
      {{3, 30}, 40, {3, 30}},    // already long enough
      {{7, 8}, 16, {0, 16}},     // the whole row
      {{2, 5}, 15, {2, 5}},      // a row shorter than the minimum is left alone
  };
  for (const Case& c : cases) {
    std::vector<ColumnSpan> spans = {c.span};
    widenSpans(spans, c.rowLength, 16);
    EXPECT_EQ(spans[0].begin, c.expected.begin) << c.span.begin << ".." << c.span.end;
    EXPECT_EQ(spans[0].end, c.expected.end) << c.span.begin << ".." << c.span.end;
  }
}

}  // namespace
}  // namespace plenoview
