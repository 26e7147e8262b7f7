#pragma once

#include <ostream>

namespace plenoview::view {

// The whole program plenoview-view: parses argv (tools/view/view_options.h),
// reads the view folder, and writes OUT/index.html and OUT/mosaic.png. Both
// files are made in memory first and written under hidden temporary names in
// OUT, then renamed into place, so that a run that fails leaves what OUT held
// before and no file cut short. On success prints to `out`
//
//   page: <OUT>/index.html, <size> MB (<k> of <count> frames, N x N views of W x H, PNG|JPEG)
//   mosaic: <OUT>/mosaic.png, <N W> x <N H> (frame <f>)
//
// and, when the default step held frames back, a note on `err`. A failure
// is one line "plenoview-view: <message>" on `err`; a usage error that line
// and the usage text. Returns the exit status: 0, 1 (the views, the patch
// sizes or OUT could not be used, or the page would exceed --max-mb), 2 (the
// command line).
int runView(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace plenoview::view
