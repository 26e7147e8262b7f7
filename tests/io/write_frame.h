#pragma once

#include "base/interrupt.h"
#include "io/view_sink.h"

#include <utility>
#include <vector>

namespace plenoview::testing {

// All of frame `frameIndex` at once, as the frame loop hands it over:
// beginFrame, one writeViews of every view (y outer, x inner), endFrame;
// abandonFrame when a write fails other than by an interrupt.
template <typename Sink>
void writeFrame(Sink&& sink, const ViewGrid& viewGrid, int frameIndex) {
  const int N = static_cast<int>(viewGrid.size());
  std::vector<FinishedView> views;
  for (int y = 0; y < N; ++y) {
    for (int x = 0; x < N; ++x) views.push_back({cv::Point(x, y), viewGrid[x][y]});
  }
  sink.beginFrame(frameIndex);
  try {
    sink.writeViews(views);
  } catch (const InterruptedError&) {
    throw;
  } catch (...) {
    sink.abandonFrame();
    throw;
  }
  sink.endFrame();
}

}  // namespace plenoview::testing
