#pragma once

#include <opencv2/core.hpp>

namespace plenoview {

// The frame as the pipeline takes it: 8-bit samples, one (grey) or three
// (colour) channels. `frame` itself is not changed; a frame that already fits
// is returned as a shared handle, anything else as a new image.
//
// Channels: 2 (grey + alpha) keeps channel 0; 4 (colour + alpha) keeps
// channels 0..2 in their order; more than 4 keeps the first three.
//
// Depths, per sample v (exact integer arithmetic, no rounding):
//   8-bit unsigned   v
//   16-bit unsigned  v >> 8                 the high byte: 0..65535 -> 0..255
//   8-bit signed     v < 0 ? 0 : v << 1     0..127 -> 0..254
//   16-bit signed    v < 0 ? 0 : v >> 7     0..32767 -> 0..255
//   32-bit signed    v < 0 ? 0 : v >> 23    0..2^31-1 -> 0..255
// Floating point (16, 32 or 64 bits) is read as intensity in [0, 1]:
//   round(v x 255) in double precision, ties to even, below 0 (and NaN)
//   giving 0, above 1 giving 255.
cv::Mat toEightBitFrame(const cv::Mat& frame);

}  // namespace plenoview
