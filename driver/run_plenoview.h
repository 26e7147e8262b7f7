#pragma once

#include "driver/frame_loop_observer.h"

namespace plenoview {

// The whole program: parses the command line, reads the calibration, runs the
// frame loop. Returns the exit status; errors reach stderr as one line
// "plenoview: <message>".
int runPlenoview(int argc, const char* const* argv, const FrameLoopObserver& observer = {});

}  // namespace plenoview
