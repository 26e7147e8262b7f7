#pragma once

#include <opencv2/core.hpp>

namespace plenoview {

// The five PNG row filters, by the type byte a PNG file stores before each
// row. Each predicts a byte from its neighbours a (left, `channels` bytes
// back), b (above) and c (above left); the file holds the byte minus the
// prediction, modulo 256. Bytes left of the row and rows above the first
// count as 0.
enum class PngFilter : uchar { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// The filtered bytes of one row of `bytes` bytes (pixels x channels):
// out[i] = row[i] - prediction(filter, i). `above` is the unfiltered row
// above, or nullptr for the first row. `out` must not overlap the rows.
void filterRow(PngFilter filter, const uchar* row, const uchar* above, int bytes, int channels,
               uchar* out);

// The filter a row is written with when files should be small rather than
// fast: the one whose bytes, read as signed, have the least sum of absolute
// values (ties to the lower type), a good guess at what deflate compresses
// best. Its bytes are left in `out`; `scratch` holds 2 x `bytes` bytes.
PngFilter filterRowSmallest(const uchar* row, const uchar* above, int bytes, int channels,
                            uchar* out, uchar* scratch);

// Swaps the first and third byte of each of `count` 3-byte pixels in place:
// OpenCV's B, G, R to the R, G, B of a PNG file. Filtering commutes with it,
// since every filter works channel by channel.
void swapRedAndBlue(uchar* pixels, int count);

}  // namespace plenoview
