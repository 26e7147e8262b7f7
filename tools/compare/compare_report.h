#pragma once

#include "io/compare_sides.h"

#include <ostream>
#include <string>

namespace plenoview::compare {

// What plenoview-compare writes of a Comparison (io/compare_sides.h). An
// infinite PSNR (MSE 0) is "inf" in the table and the CSV and Infinity in the
// JSON (which Python's json reads); an unmeasured plane (U and V of a grey
// side) is "-" in the table, an empty field in the CSV and null in the JSON.

// The table on stdout: a header, one row per view (a lenslet comparison: one
// row "lenslet"), then the mean "mean" (MV-PSNR); columns view, Y, U, V and
// YUV PSNR in dB with four decimals, aligned, separated by blanks.
void printTable(std::ostream& out, const Comparison& comparison);

// The JSON object: mvpsnr_y, mvpsnr_u, mvpsnr_v, mvpsnr_yuv, frames and
// views, a list of {"view": "cXXYY", "psnr_y", "psnr_u", "psnr_v",
// "psnr_yuv"}; for two lenslet videos llpsnr_y, llpsnr_u, llpsnr_v,
// llpsnr_yuv and frames. Numbers in the shortest form that reads back to the
// same double.
void writeJson(std::ostream& out, const Comparison& comparison);

// CSV: the header "view,psnr_y,psnr_u,psnr_v,psnr_yuv", then one row per view
// (or the one row "lenslet"), numbers as in the JSON.
void writeCsv(std::ostream& out, const Comparison& comparison);

// A double in the shortest form that reads back to the same value.
std::string shortestNumber(double value);

}  // namespace plenoview::compare
