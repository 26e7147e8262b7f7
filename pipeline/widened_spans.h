#pragma once

#include "renderer/scale_level_windows.h"

#include <algorithm>
#include <vector>

namespace plenoview {

// Widens every non-empty span of rows `rowLength` long to at least `minimum`
// columns where the row is that long, keeping it inside the row. For loops
// that do 16 bytes a step on the span and leave the bytes a mask excludes
// unchanged: a short span then takes one step instead of a byte at a time.
inline void widenSpans(std::vector<ColumnSpan>& spans, int rowLength, int minimum) {
  if (rowLength < minimum) return;
  for (ColumnSpan& span : spans) {
    if (span.begin >= span.end || span.end - span.begin >= minimum) continue;
    span.end = std::min(rowLength, span.begin + minimum);
    span.begin = span.end - minimum;
  }
}

}  // namespace plenoview
