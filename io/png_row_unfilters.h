#pragma once

#include <opencv2/core.hpp>

namespace plenoview {

// One row of a PNG file (its filter type, then `width` x `channels` bytes
// of 8-bit grey or R, G, B) undone into `out`, B, G, R for colour as OpenCV
// holds it; `above` is the row decoded before it, nullptr for the first.
// The filtered bytes may be changed. False for an unknown filter type.
bool unfilterRow(uchar* line, const uchar* above, int width, int channels, uchar* out);

}  // namespace plenoview
