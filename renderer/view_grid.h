#pragma once

#include <opencv2/core.hpp>

#include <functional>
#include <vector>

namespace plenoview {

// N x N images indexed [view x][view y].
using ViewGrid = std::vector<std::vector<cv::Mat>>;

// A finished view (cropped and turned) and its place (view x, view y) in the
// grid.
struct FinishedView {
  cv::Point place;
  cv::Mat view;
};

// The streamed rendering hands the views over in groups: runs of at most
// kViewsPerGroup views of one grid row, as many as N = 5 has in a row, so
// that a larger N holds no more views at once than 5 x 5 does.
constexpr int kViewsPerGroup = 5;

// Sets of finished views the streamed rendering uses in turn: a sink may
// hold kGroupSets - 1 groups while the next is made.
constexpr int kGroupSets = 3;

// Receives the finished views of a frame a group at a time. The views' pixels
// are the renderer's: they stay as they are until the sink has returned for
// the kGroupSets - 1 groups after it, of this frame or the next one, and are
// reused after that, so a sink may still read a group while the next ones
// are made, even while the next frame is estimated.
using ViewGroupSink = std::function<void(const std::vector<FinishedView>& group)>;

}  // namespace plenoview
