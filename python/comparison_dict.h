#pragma once

#include "io/compare_sides.h"

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace plenoview::python {

// plenoview.compare: compareSides (io/compare_sides.h) run without the GIL,
// its result as the dictionary plenoview-compare writes with --json: for view
// folders mvpsnr_y, mvpsnr_u, mvpsnr_v, mvpsnr_yuv, frames and views (a list
// of dicts view, psnr_y, psnr_u, psnr_v, psnr_yuv); for lenslet videos
// llpsnr_y, llpsnr_u, llpsnr_v, llpsnr_yuv and frames. An infinite PSNR is
// float("inf"), an unmeasured plane (a grey side's U and V) None. `sizeText`
// and `pixelFormat` are the command line's --size and --pixel-format.
pybind11::dict compareToDict(const std::string& ref, const std::string& test,
                             const std::optional<std::string>& sizeText,
                             const std::optional<std::string>& pixelFormat);

}  // namespace plenoview::python
