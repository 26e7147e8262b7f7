#pragma once

#include <functional>

namespace plenoview {

// Runs body(i) for every i in [0, count) on OpenCV's worker threads: as many
// as cv::setNumThreads allows, all on the calling thread when that is 1 or
// when called from inside another parallel loop. Items must not depend on one
// another. An exception of an item is rethrown once all items have ended (that
// of the lowest item).
void parallelForEach(int count, const std::function<void(int)>& body);

// The same on `threads` threads of its own (the calling thread one of them),
// never OpenCV's: OpenCV runs a parallel loop on one thread while any other
// thread is inside one, so work that runs beside the rendering (the views
// being encoded while the next group is made) would get one core only.
void parallelForEachOnOwnThreads(int count, int threads, const std::function<void(int)>& body);

// Threads for encoding `count` views beside the rendering: one per view, so
// that they share the cores with the rendering evenly instead of leaving a
// core idle on the last of an odd count; one when OpenCV is held to one.
int encodingThreads(int count);

}  // namespace plenoview
