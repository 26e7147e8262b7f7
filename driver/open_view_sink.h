#pragma once

#include "driver/command_line.h"
#include "io/view_sink.h"

#include <memory>

namespace plenoview {

// Where the command line sends the views of N x N = `viewNum` x `viewNum`:
// a PNG file per view and frame (--output-format png), or a video file per
// view (yuv, y4m) at --fps, in --output-dir.
std::unique_ptr<ViewSink> openViewSink(const CommandLine& line, int viewNum);

}  // namespace plenoview
