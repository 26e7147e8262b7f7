#include "io/png_row_filters.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace plenoview {

namespace {

// Paeth's predictor: of a, b and c the one nearest to a + b - c, ties in
// the order a, b, c. In 16 bits, so that the compiler handles 8 or 16 bytes
// at once: |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |a + b - 2c|.
void paethRow(const uchar* row, const uchar* above, int bytes, int channels, uchar* out) {
  for (int i = 0; i < channels && i < bytes; ++i) out[i] = static_cast<uchar>(row[i] - above[i]);
  for (int i = channels; i < bytes; ++i) {
    const int16_t a = row[i - channels];
    const int16_t b = above[i];
    const int16_t c = above[i - channels];
    const int16_t pa = static_cast<int16_t>(std::abs(b - c));
    const int16_t pb = static_cast<int16_t>(std::abs(a - c));
    const int16_t pc = static_cast<int16_t>(std::abs(a + b - 2 * c));
    const int16_t nearerOfAB = pb < pa ? b : a;
    const int16_t distanceAB = pb < pa ? pb : pa;
    out[i] = static_cast<uchar>(row[i] - (pc < distanceAB ? c : nearerOfAB));
  }
}

// The sum of the bytes read as signed values, |-128 .. 127|.
long absoluteSum(const uchar* bytes, int count) {
  long sum = 0;
  for (int i = 0; i < count; ++i) sum += std::abs(static_cast<int8_t>(bytes[i]));
  return sum;
}

}  // namespace

void filterRow(PngFilter filter, const uchar* row, const uchar* above, int bytes, int channels,
               uchar* out) {
  // The first row has nothing above: Up is None, Average halves the left
  // byte alone and Paeth predicts from the left (a, since b = c = 0).
  if (above == nullptr) {
    if (filter == PngFilter::kUp) filter = PngFilter::kNone;
    if (filter == PngFilter::kPaeth) filter = PngFilter::kSub;
  }
  const int lead = channels < bytes ? channels : bytes;
  switch (filter) {
    case PngFilter::kNone:
      std::memcpy(out, row, bytes);
      break;
    case PngFilter::kSub:
      std::memcpy(out, row, lead);
      for (int i = channels; i < bytes; ++i)
        out[i] = static_cast<uchar>(row[i] - row[i - channels]);
      break;
    case PngFilter::kUp:
      for (int i = 0; i < bytes; ++i) out[i] = static_cast<uchar>(row[i] - above[i]);
      break;
    case PngFilter::kAverage:
      for (int i = 0; i < lead; ++i)
        out[i] = static_cast<uchar>(row[i] - (above ? above[i] / 2 : 0));
      for (int i = channels; i < bytes; ++i) {
        const int left = row[i - channels];
        out[i] = static_cast<uchar>(row[i] - ((left + (above ? above[i] : 0)) >> 1));
      }
      break;
    case PngFilter::kPaeth:
      paethRow(row, above, bytes, channels, out);
      break;
  }
}

PngFilter filterRowSmallest(const uchar* row, const uchar* above, int bytes, int channels,
                            uchar* out, uchar* scratch) {
  // The best so far stays in `out`; each other candidate is made in the
  // scratch row and swapped in when it is smaller.
  uchar* candidate = scratch;
  uchar* best = scratch + bytes;
  PngFilter bestFilter = PngFilter::kNone;
  filterRow(PngFilter::kNone, row, above, bytes, channels, best);
  long bestSum = absoluteSum(best, bytes);
  for (const PngFilter filter :
       {PngFilter::kSub, PngFilter::kUp, PngFilter::kAverage, PngFilter::kPaeth}) {
    filterRow(filter, row, above, bytes, channels, candidate);
    const long sum = absoluteSum(candidate, bytes);
    if (sum < bestSum) {
      bestSum = sum;
      bestFilter = filter;
      std::swap(candidate, best);
    }
  }
  std::memcpy(out, best, bytes);
  return bestFilter;
}

void swapRedAndBlue(uchar* pixels, int count) {
  for (int x = 0; x < count; ++x) {
    const uchar first = pixels[3 * x];
    pixels[3 * x] = pixels[3 * x + 2];
    pixels[3 * x + 2] = first;
  }
}

}  // namespace plenoview
