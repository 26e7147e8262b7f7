#include "io/view_sink.h"

#include "base/interrupt.h"

#include <vector>

namespace plenoview {

void ViewSink::write(const ViewGrid& viewGrid, int frameIndex) {
  const int N = static_cast<int>(viewGrid.size());
  std::vector<FinishedView> views;
  for (int y = 0; y < N; ++y) {
    for (int x = 0; x < N; ++x) {
      CV_Assert(static_cast<int>(viewGrid[x].size()) == N);
      views.push_back({cv::Point(x, y), viewGrid[x][y]});
    }
  }
  beginFrame(frameIndex);
  try {
    writeViews(views);
  } catch (const InterruptedError&) {
    throw;
  } catch (...) {
    abandonFrame();
    throw;
  }
  endFrame();
}

}  // namespace plenoview
