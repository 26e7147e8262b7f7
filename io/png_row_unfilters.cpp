#include "io/png_row_unfilters.h"

#include "io/png_row_filters.h"

#include <algorithm>
#include <cstring>
#include <emmintrin.h>

namespace plenoview {

namespace {

// The row filters undone in the file's byte order (any, for grey), one byte
// after the other; `above` is nullptr on the first row, whose row above
// counts as 0.
void unfilterInOrder(int type, const uchar* in, const uchar* above, int bytes, int channels,
                     uchar* out) {
  const int lead = std::min(channels, bytes);
  if (above == nullptr) {
    if (type == 2) type = 0;  // Up from nothing
    if (type == 4) type = 1;  // Paeth with b = c = 0 predicts a
  }
  switch (type) {
    case 0:
      std::memcpy(out, in, bytes);
      break;
    case 1:
      std::memcpy(out, in, lead);
      for (int i = channels; i < bytes; ++i) out[i] = static_cast<uchar>(in[i] + out[i - channels]);
      break;
    case 2:
      for (int i = 0; i < bytes; ++i) out[i] = static_cast<uchar>(in[i] + above[i]);
      break;
    case 3:
      for (int i = 0; i < lead; ++i) {
        out[i] = static_cast<uchar>(in[i] + ((above ? above[i] : 0) >> 1));
      }
      for (int i = channels; i < bytes; ++i) {
        out[i] = static_cast<uchar>(in[i] + ((out[i - channels] + (above ? above[i] : 0)) >> 1));
      }
      break;
    default:
      for (int i = 0; i < lead; ++i) out[i] = static_cast<uchar>(in[i] + above[i]);
      for (int i = channels; i < bytes; ++i) {
        const int a = out[i - channels];
        const int b = above[i];
        const int c = above[i - channels];
        const int pa = std::abs(b - c);
        const int pb = std::abs(a - c);
        const int pc = std::abs(a + b - 2 * c);
        const int nearerOfAB = pb < pa ? b : a;
        out[i] = static_cast<uchar>(in[i] + (pc < std::min(pa, pb) ? c : nearerOfAB));
      }
      break;
  }
}

// Sub on R, G, B pixels, written B, G, R: three running sums.
void unfilterSubSwapped(const uchar* in, int pixels, uchar* out) {
  uchar blue = 0, green = 0, red = 0;
  for (int i = 0; i < 3 * pixels; i += 3) {
    red = static_cast<uchar>(red + in[i]);
    green = static_cast<uchar>(green + in[i + 1]);
    blue = static_cast<uchar>(blue + in[i + 2]);
    out[i] = blue;
    out[i + 1] = green;
    out[i + 2] = red;
  }
}

// A pixel's 3 bytes in the low 16-bit lanes; 4 bytes are read unless it is
// the last of its row (the fourth lane is then never used). The sizes are
// constants so that each copy is one move.
__m128i loadPixel(const uchar* at, bool last) {
  uint32_t value = 0;
  if (last) {
    std::memcpy(&value, at, 3);
  } else {
    std::memcpy(&value, at, 4);
  }
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(value)), _mm_setzero_si128());
}

// Stores the low 3 lanes as bytes; a fourth byte, overwritten by the next
// pixel, unless this is the last.
void storePixel(__m128i pixel, uchar* at, bool last) {
  const uint32_t value = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(pixel, pixel)));
  if (last) {
    std::memcpy(at, &value, 3);
  } else {
    std::memcpy(at, &value, 4);
  }
}

__m128i absolute(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

__m128i choose(__m128i mask, __m128i ifSet, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, otherwise));
}

// Average or Paeth on R, G, B pixels under a B, G, R row, written B, G, R:
// one pixel a step, its samples in 16-bit lanes. The left pixel a is the
// only dependence from step to step, so what needs only the row above and
// the file (the differences, swapped) stays off that path.
// predict(a, b, c) gives the prediction from the left, above and above-left
// pixels.
template <typename Predict>
void unfilterPixelsSwapped(const uchar* in, const uchar* above, int pixels, uchar* out,
                           Predict predict) {
  const __m128i lowBytes = _mm_set1_epi16(0xff);
  __m128i a = _mm_setzero_si128();
  __m128i c = _mm_setzero_si128();
  for (int p = 0; p < pixels; ++p) {
    const int i = 3 * p;
    const bool last = p + 1 == pixels;
    const __m128i b = loadPixel(above + i, last);
    const __m128i difference = _mm_shufflelo_epi16(loadPixel(in + i, last), 0xc6);
    a = _mm_and_si128(_mm_add_epi16(predict(a, b, c), difference), lowBytes);
    c = b;
    storePixel(a, out + i, last);
  }
}

__m128i average(__m128i a, __m128i b, __m128i) { return _mm_srli_epi16(_mm_add_epi16(a, b), 1); }

// Of a, b and c the one nearest to a + b - c, ties in the order a, b, c:
// |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |(a - c) + (b - c)|.
__m128i paeth(__m128i a, __m128i b, __m128i c) {
  const __m128i bMinusC = _mm_sub_epi16(b, c);
  const __m128i aMinusC = _mm_sub_epi16(a, c);
  const __m128i pa = absolute(bMinusC);
  const __m128i pb = absolute(aMinusC);
  const __m128i pc = absolute(_mm_add_epi16(aMinusC, bMinusC));
  const __m128i nearerOfAB = choose(_mm_cmplt_epi16(pb, pa), b, a);
  return choose(_mm_cmplt_epi16(pc, _mm_min_epi16(pa, pb)), c, nearerOfAB);
}

// Paeth on grey rows, one byte a step as above but in lane 0 alone: written
// plainly, its comparisons become branches that noisy rows mispredict.
void unfilterGreyPaeth(const uchar* in, const uchar* above, int bytes, uchar* out) {
  const __m128i lowBytes = _mm_set1_epi16(0xff);
  __m128i a = _mm_setzero_si128();
  __m128i c = _mm_setzero_si128();
  for (int i = 0; i < bytes; ++i) {
    const __m128i b = _mm_cvtsi32_si128(above[i]);
    a = _mm_and_si128(_mm_add_epi16(paeth(a, b, c), _mm_cvtsi32_si128(in[i])), lowBytes);
    c = b;
    out[i] = static_cast<uchar>(_mm_cvtsi128_si32(a));
  }
}

}  // namespace

bool unfilterRow(uchar* line, const uchar* above, int width, int channels, uchar* out) {
  const int type = line[0];
  uchar* in = line + 1;
  if (type > 4) return false;
  if (channels == 3) {
    if (type == 1 || (type == 4 && above == nullptr)) {
      unfilterSubSwapped(in, width, out);
      return true;
    }
    if (type == 3 && above != nullptr) {
      unfilterPixelsSwapped(in, above, width, out, average);
      return true;
    }
    if (type == 4) {
      unfilterPixelsSwapped(in, above, width, out, paeth);
      return true;
    }
    // Every filter works channel by channel, so swapping the differences
    // first gives the pixels swapped.
    swapRedAndBlue(in, width);
  } else if (type == 4 && above != nullptr) {
    unfilterGreyPaeth(in, above, width, out);
    return true;
  }
  unfilterInOrder(type, in, above, width * channels, channels, out);
  return true;
}

}  // namespace plenoview
