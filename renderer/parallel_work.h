#pragma once

#include <functional>

namespace plenoview {

// Runs body(i) for every i in [0, count) on OpenCV's worker threads: as many
// as cv::setNumThreads allows, all on the calling thread when that is 1 or
// when called from inside another parallel loop. Items must not depend on one
// another. An exception of an item is rethrown once all items have ended (that
// of the lowest item).
void parallelForEach(int count, const std::function<void(int)>& body);

}  // namespace plenoview
