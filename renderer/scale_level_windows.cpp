#include "renderer/scale_level_windows.h"

#include "base/instruction_set.h"
#include "renderer/half_merge.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace plenoview {

namespace {

// Both 11-bit weights in one int, the first in the low half.
int weightPair(short w0, short w1) {
  return static_cast<int>(static_cast<unsigned short>(w0) |
                          (static_cast<unsigned>(static_cast<unsigned short>(w1)) << 16));
}
short weight0Of(int pair) { return static_cast<short>(pair & 0xFFFF); }
short weight1Of(int pair) { return static_cast<short>(static_cast<unsigned>(pair) >> 16); }

// Where each destination index of one axis reads, as OpenCV's bilinear resize
// places it: the source index s and the weights of s and s + 1.
//   Columns: s is clamped to the frame with weight 0 for s + 1 outside it, so
//   the second tap is the next column whenever its weight is not 0; kept as
//   the byte offset s x `stride`.
//   Rows: both rows read, s and s + 1, are clipped to the frame (the first
//   and second of the axis).
template <typename Axis>
void buildAxis(int sourceLength, int destinationLength, bool columns, int stride, Axis& axis) {
  axis.first.resize(destinationLength);
  if (!columns) axis.second.resize(destinationLength);
  axis.pairs.resize(destinationLength);
  const double inverse = static_cast<double>(destinationLength) / sourceLength;
  const double scale = 1.0 / inverse;
  const int last = sourceLength - 1;
  for (int d = 0; d < destinationLength; ++d) {
    // Computed in double, rounded once to float.
    float f = static_cast<float>((d + 0.5) * scale - 0.5);
    int s = cvFloor(f);
    f -= s;
    if (columns) {
      // Outside the frame the edge column is taken whole.
      if (s < 0) {
        s = 0;
        f = 0;
      }
      if (s >= last) {
        s = last;
        f = 0;
      }
    }
    if (columns) {
      axis.first[d] = s * stride;
    } else {
      axis.first[d] = std::clamp(s, 0, last);
      axis.second[d] = std::clamp(s + 1, 0, last);
    }
    axis.pairs[d] =
        weightPair(cv::saturate_cast<short>((1.f - f) * 2048), cv::saturate_cast<short>(f * 2048));
  }
}

// The first column from which on an 8-byte load at a column's tap, or a
// 4-byte load at the next pixel, could pass the end of the row.
template <typename Axis>
int safeColumnEnd(int rowBytes, int channels, const Axis& axis) {
  const int n = static_cast<int>(axis.first.size());
  for (int d = 0; d < n; ++d) {
    if (axis.first[d] + 8 > rowBytes || axis.first[d] + channels + 4 > rowBytes) return d;
  }
  return n;
}

// Horizontal resampling keeps h >> 4 per sample, which fits 16 bits
// (h <= 255 x 2049). A colour row is kept with three lanes per pixel when the
// window is wanted in colour, with four (the fourth unused) when it is wanted
// in grey, where a pixel's lanes then form one 64-bit group.

// Columns [begin, end) of one source row of `Channels` channels, one at a
// time, `Lanes` lanes per pixel: where the wide loads stop.
template <int Channels, int Lanes>
void horizontalTail(const uchar* source, const int* first, const int* pairs, int begin, int end,
                    short* out) {
  for (int i = begin; i < end; ++i) {
    const short w0 = weight0Of(pairs[i]);
    const short w1 = weight1Of(pairs[i]);
    const uchar* a = source + first[i];
    for (int c = 0; c < Channels; ++c) {
      out[Lanes * i + c] =
          static_cast<short>((a[c] * w0 + (w1 != 0 ? a[Channels + c] * w1 : 0)) >> 4);
    }
  }
}

// One grey source row over window columns [begin, end). Columns from
// `safeEnd` on lie too near the row's end for the wide loads.
void horizontalGrey(const uchar* source, const int* first, const int* pairs, int begin, int end,
                    int safeEnd, short* out) {
  int i = begin;
#if defined(__SSE2__)
  // Eight columns a step: both taps of a column are one 16-bit load, eight
  // of them spread into 16-bit lanes (a0 b0 a1 b1 ...), which times the
  // stored weight pairs (w0 w1 ...) summed in pairs give the eight sums. At
  // a clamped column w1 is 0 and b does not count.
  const __m128i zero = _mm_setzero_si128();
  const int vectorEnd = std::min(end, safeEnd);
  for (; i + 8 <= vectorEnd; i += 8) {
    // The lanes are set at once: an insert needs its lane as a constant,
    // which a loop gives only when the compiler unrolls it.
    unsigned short both[8];
    for (int k = 0; k < 8; ++k) std::memcpy(&both[k], source + first[i + k], 2);
    const __m128i taps = _mm_setr_epi16(static_cast<short>(both[0]), static_cast<short>(both[1]),
                                        static_cast<short>(both[2]), static_cast<short>(both[3]),
                                        static_cast<short>(both[4]), static_cast<short>(both[5]),
                                        static_cast<short>(both[6]), static_cast<short>(both[7]));
    const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + i));
    const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + i + 4));
    const __m128i h0 = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(taps, zero), w0), 4);
    const __m128i h1 = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi8(taps, zero), w1), 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(h0, h1));
  }
#else
  (void)safeEnd;
#endif
  horizontalTail<1, 1>(source, first, pairs, i, end, out);
}

// One colour source row over window columns [begin, end), `Lanes` lanes per
// pixel. Columns from `safeEnd` on lie too near the row's end for the wide
// loads.
template <int Lanes>
void horizontalColour(const uchar* source, const int* first, const int* pairs, int begin, int end,
                      int safeEnd, short* out) {
  int i = begin;
#if defined(__SSE2__)
  // Per pixel: one 8-byte load holds both taps, the pixel and the next;
  // interleaved with itself moved by one pixel they form the 16-bit lanes
  // (a0 b0 a1 b1 a2 b2 . .), which times (w0 w1 w0 w1 ...) summed in pairs
  // give the three sums. At a clamped column w1 is 0 and b does not count.
  const __m128i zero = _mm_setzero_si128();
  auto taps = [&](int d) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + first[d]));
    return _mm_unpacklo_epi8(_mm_unpacklo_epi8(v, _mm_srli_si128(v, 3)), zero);
  };
  const int vectorEnd = std::min(end, safeEnd);
  for (; i + 2 <= vectorEnd; i += 2) {
    const __m128i h0 = _mm_srai_epi32(_mm_madd_epi16(taps(i), _mm_set1_epi32(pairs[i])), 4);
    const __m128i h1 = _mm_srai_epi32(_mm_madd_epi16(taps(i + 1), _mm_set1_epi32(pairs[i + 1])), 4);
    const __m128i both = _mm_packs_epi32(h0, h1);
    if (Lanes == 4) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), both);
    } else {
      // Four lanes per pixel, stored three apart: each pixel's unused lane
      // is overwritten by the next pixel (the scratch row has room for the
      // last one's).
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i), both);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i + 3), _mm_srli_si128(both, 8));
    }
  }
#else
  (void)safeEnd;
#endif
  horizontalTail<3, Lanes>(source, first, pairs, i, end, out);
}

// OpenCV's 16-bit vertical pass: both products keep their high halves,
//   (((c0 x h0) >> 16) + ((c1 x h1) >> 16) + 2) >> 2, saturated to a byte.
inline int verticalSample(short h0, short h1, short c0, short c1) {
  const short p0 = static_cast<short>((c0 * h0) >> 16);
  const short p1 = static_cast<short>((c1 * h1) >> 16);
  const int v = static_cast<short>(p0 + p1 + 2) >> 2;
  return v < 0 ? 0 : v > 255 ? 255 : v;
}

// COLOR_RGB2GRAY on 8 bits: 0.299, 0.587, 0.114 in 15-bit fixed point.
inline uchar greySample(int b0, int b1, int b2) {
  return static_cast<uchar>((b0 * 9798 + b1 * 19235 + b2 * 3735 + 16384) >> 15);
}

// Samples [0, count) of the vertical pass, one lane each (grey frames, and
// colour rows kept with three lanes).
void verticalBytes(const short* h0, const short* h1, short c0, short c1, uchar* out, int count) {
#if defined(__SSE2__)
  // Eight samples a step, a last step overlapping the one before it.
  if (count >= 8) {
    const __m128i vc0 = _mm_set1_epi16(c0);
    const __m128i vc1 = _mm_set1_epi16(c1);
    for (int i = 0;; i += 8) {
      if (i + 8 > count) i = count - 8;
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h0 + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h1 + i));
      const __m128i sum = _mm_add_epi16(
          _mm_add_epi16(_mm_mulhi_epi16(a, vc0), _mm_mulhi_epi16(b, vc1)), _mm_set1_epi16(2));
      const __m128i v = _mm_srai_epi16(sum, 2);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
      if (i + 8 == count) return;
    }
  }
#endif
  for (int i = 0; i < count; ++i) out[i] = static_cast<uchar>(verticalSample(h0[i], h1[i], c0, c1));
}

#if defined(__SSE2__)
// Two colour pixels (eight lanes) of the vertical pass, each lane in 0..255
// without saturating it: every weight lies in 0..2048 and the two of a pair
// add up to at most 2049 (each is rounded on its own), so 0 <= h <= 255 x
// 2049 >> 4 = 32655, the two high halves add up to at most
// 2049 x 32655 / 65536 < 1021, and (1020 + 2) >> 2 = 255.
inline __m128i verticalLanes(const short* h0, const short* h1, __m128i c0, __m128i c1) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h1));
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epi16(a, c0), _mm_mulhi_epi16(b, c1)),
                                    _mm_set1_epi16(2));
  return _mm_srai_epi16(sum, 2);
}
#endif

#if defined(__SSE2__)
// The 15-bit grey sums (before the shift) of four colour pixels from their
// vertical pass: per pixel (b0 x 9798 + b1 x 19235) and (b2 x 3735 + 0) from
// one multiply-add, the two halves then gathered and added.
inline __m128i greySumsOfFour(const short* h0, const short* h1, __m128i c0, __m128i c1) {
  const __m128i weights = _mm_set_epi16(0, 3735, 19235, 9798, 0, 3735, 19235, 9798);
  const __m128 m0 = _mm_castsi128_ps(_mm_madd_epi16(verticalLanes(h0, h1, c0, c1), weights));
  const __m128 m1 =
      _mm_castsi128_ps(_mm_madd_epi16(verticalLanes(h0 + 8, h1 + 8, c0, c1), weights));
  const __m128i first = _mm_castps_si128(_mm_shuffle_ps(m0, m1, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i second = _mm_castps_si128(_mm_shuffle_ps(m0, m1, _MM_SHUFFLE(3, 1, 3, 1)));
  const __m128i sums = _mm_add_epi32(_mm_add_epi32(first, second), _mm_set1_epi32(16384));
  return _mm_srli_epi32(sums, 15);
}
#endif

// Grey pixels [0, count) from the vertical pass of a colour row kept with
// four lanes: the colour bytes, then their grey. Every output depends only on
// its own inputs, so a last group may overlap the one before it.
void verticalColourToGrey(const short* h0, const short* h1, short c0, short c1, uchar* out,
                          int count) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i vc0 = _mm_set1_epi16(c0);
  const __m128i vc1 = _mm_set1_epi16(c1);
  if (count >= 8) {
    for (;; i += 8) {
      if (i + 8 > count) i = count - 8;
      const __m128i grey =
          _mm_packs_epi32(greySumsOfFour(h0 + 4 * i, h1 + 4 * i, vc0, vc1),
                          greySumsOfFour(h0 + 4 * i + 16, h1 + 4 * i + 16, vc0, vc1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(grey, grey));
      if (i + 8 == count) return;
    }
  }
  for (; i + 4 <= count; i += 4) {
    const __m128i grey =
        _mm_packs_epi32(greySumsOfFour(h0 + 4 * i, h1 + 4 * i, vc0, vc1), _mm_setzero_si128());
    const int four = _mm_cvtsi128_si32(_mm_packus_epi16(grey, grey));
    std::memcpy(out + i, &four, 4);
  }
#endif
  for (; i < count; ++i) {
    const short* a = h0 + 4 * i;
    const short* b = h1 + 4 * i;
    out[i] = greySample(verticalSample(a[0], b[0], c0, c1), verticalSample(a[1], b[1], c0, c1),
                        verticalSample(a[2], b[2], c0, c1));
  }
}

// verticalColourToGrey merged at weight one half into out[0, count)
// (mergeHalfRowWhole), through a row of greys on the stack (count <= 64 at
// a time).
void verticalColourToGreyMerge(const short* h0, const short* h1, short c0, short c1, uchar* out,
                               int count) {
  uchar greys[64];
  for (int i = 0; i < count; i += 64) {
    const int n = std::min(64, count - i);
    verticalColourToGrey(h0 + 4 * i, h1 + 4 * i, c0, c1, greys, n);
    mergeHalfRowWhole(greys, out + i, n);
  }
}

#if defined(__x86_64__)
// The AVX2 builds of the kernels above, chosen at run time (useAvx2), but
// for horizontalGrey: its taps come column by column into the lanes, and
// sixteen lanes a step gained little over eight.
// Only these functions are compiled for AVX2, by their target attribute: a
// whole file built with -mavx2 could hand AVX2 copies of shared inline
// functions to the baseline code.
// Each gives the bytes of its baseline kernel, which also takes over what is
// left after its last full step, once the upper halves of the vector
// registers are cleared: else each of the baseline's SSE instructions would
// wait on them (the compiler leaves the clearing out before a tail call).
#define PLENOVIEW_AVX2 __attribute__((target("avx2")))

// horizontalColour four pixels a step. Each pixel's 8-byte load goes into a
// 128-bit half, where one shuffle spreads it into the 16-bit lanes
// (a0 b0 a1 b1 a2 b2 . .) of the baseline; pixels 0 and 2 share one vector,
// 1 and 3 another, so that packing the two puts the pixels in order.
template <int Lanes>
PLENOVIEW_AVX2 void horizontalColourAvx2(const uchar* source, const int* first, const int* pairs,
                                         int begin, int end, int safeEnd, short* out) {
  const __m256i spread = _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, 3, -1, 6, -1, 0,
                                          -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, 3, -1, 6, -1);
  const __m256i evenPairs = _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2);
  const __m256i oddPairs = _mm256_setr_epi32(1, 1, 1, 1, 3, 3, 3, 3);
  auto load = [&](int d) PLENOVIEW_AVX2 {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + first[d]));
  };
  auto step = [&](int d) PLENOVIEW_AVX2 {
    const __m256i weights =
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + d)));
    const __m256i even = _mm256_inserti128_si256(_mm256_castsi128_si256(load(d)), load(d + 2), 1);
    const __m256i odd =
        _mm256_inserti128_si256(_mm256_castsi128_si256(load(d + 1)), load(d + 3), 1);
    const __m256i h0 =
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(even, spread),
                                            _mm256_permutevar8x32_epi32(weights, evenPairs)),
                          4);
    const __m256i h1 =
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(odd, spread),
                                            _mm256_permutevar8x32_epi32(weights, oddPairs)),
                          4);
    const __m256i four = _mm256_packs_epi32(h0, h1);
    if (Lanes == 4) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * d), four);
    } else {
      // As in the baseline: four lanes stored three apart.
      const __m128i low = _mm256_castsi256_si128(four);
      const __m128i high = _mm256_extracti128_si256(four, 1);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * d), low);
      _mm_storeh_pi(reinterpret_cast<__m64*>(out + 3 * d + 3), _mm_castsi128_ps(low));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * d + 6), high);
      _mm_storeh_pi(reinterpret_cast<__m64*>(out + 3 * d + 9), _mm_castsi128_ps(high));
    }
  };
  // A last step may overlap the one before it: every pixel depends only on
  // its own taps, and the three-lane stores stay in order.
  int i = begin;
  const int vectorEnd = std::min(end, safeEnd);
  for (; i + 4 <= vectorEnd; i += 4) step(i);
  if (i < vectorEnd && vectorEnd - begin >= 4) {
    step(vectorEnd - 4);
    i = vectorEnd;
  }
  _mm256_zeroupper();
  horizontalColour<Lanes>(source, first, pairs, i, end, safeEnd, out);
}

// verticalLanes on sixteen lanes.
PLENOVIEW_AVX2 inline __m256i verticalLanesAvx2(const short* h0, const short* h1, __m256i c0,
                                                __m256i c1) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h0));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h1));
  const __m256i sum = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_mulhi_epi16(a, c0), _mm256_mulhi_epi16(b, c1)), _mm256_set1_epi16(2));
  return _mm256_srai_epi16(sum, 2);
}

// verticalBytes 32 samples a step, then 16, the last step of each overlapping
// the one before it; below 16 the baseline.
PLENOVIEW_AVX2 void verticalBytesAvx2(const short* h0, const short* h1, short c0, short c1,
                                      uchar* out, int count) {
  if (count < 16) {
    verticalBytes(h0, h1, c0, c1, out, count);
    return;
  }
  const __m256i vc0 = _mm256_set1_epi16(c0);
  const __m256i vc1 = _mm256_set1_epi16(c1);
  int i = 0;
  if (count >= 32) {
    for (;; i += 32) {
      if (i + 32 > count) i = count - 32;
      // Packing works within 128-bit halves: samples 0-7 16-23 | 8-15 24-31.
      const __m256i packed =
          _mm256_packus_epi16(verticalLanesAvx2(h0 + i, h1 + i, vc0, vc1),
                              verticalLanesAvx2(h0 + i + 16, h1 + i + 16, vc0, vc1));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                          _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
      if (i + 32 == count) return;
    }
  }
  for (;; i += 16) {
    if (i + 16 > count) i = count - 16;
    const __m256i v = verticalLanesAvx2(h0 + i, h1 + i, vc0, vc1);
    const __m128i bytes =
        _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    if (i + 16 == count) return;
  }
}

// greySumsOfFour on eight pixels, shifted: the greys of pixels
// 0 1 4 5 | 2 3 6 7 (adding pairs works within 128-bit halves).
PLENOVIEW_AVX2 inline __m256i greysOfEight(const short* h0, const short* h1, __m256i c0,
                                           __m256i c1) {
  const __m256i weights = _mm256_setr_epi16(9798, 19235, 3735, 0, 9798, 19235, 3735, 0, 9798, 19235,
                                            3735, 0, 9798, 19235, 3735, 0);
  const __m256i m0 = _mm256_madd_epi16(verticalLanesAvx2(h0, h1, c0, c1), weights);
  const __m256i m1 = _mm256_madd_epi16(verticalLanesAvx2(h0 + 16, h1 + 16, c0, c1), weights);
  const __m256i sums = _mm256_add_epi32(_mm256_hadd_epi32(m0, m1), _mm256_set1_epi32(16384));
  return _mm256_srli_epi32(sums, 15);
}

// The greys of sixteen pixels.
PLENOVIEW_AVX2 inline __m128i greysOfSixteen(const short* h0, const short* h1, __m256i c0,
                                             __m256i c1) {
  // The bytes come out as pixels 0 1 4 5 8 9 12 13 | 2 3 6 7 10 11 14 15 in
  // the two 64-bit groups kept; one shuffle puts them in order.
  const __m128i order = _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  const __m256i words =
      _mm256_packs_epi32(greysOfEight(h0, h1, c0, c1), greysOfEight(h0 + 32, h1 + 32, c0, c1));
  const __m256i bytes =
      _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), _MM_SHUFFLE(3, 1, 2, 0));
  return _mm_shuffle_epi8(_mm256_castsi256_si128(bytes), order);
}

// The greys of sixteen pixels into out[0, 16).
PLENOVIEW_AVX2 inline void storeGreysOfSixteen(const short* h0, const short* h1, __m256i c0,
                                               __m256i c1, uchar* out) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), greysOfSixteen(h0, h1, c0, c1));
}

// verticalColourToGrey sixteen pixels a step, then a last step overlapping
// the one before it: of eight pixels as in the baseline where that covers the
// rest (at half the work), else of sixteen. Below 16 the baseline.
PLENOVIEW_AVX2 void verticalColourToGreyAvx2(const short* h0, const short* h1, short c0, short c1,
                                             uchar* out, int count) {
  if (count < 16) {
    verticalColourToGrey(h0, h1, c0, c1, out, count);
    return;
  }
  const __m256i vc0 = _mm256_set1_epi16(c0);
  const __m256i vc1 = _mm256_set1_epi16(c1);
  int i = 0;
  for (; i + 16 <= count; i += 16) storeGreysOfSixteen(h0 + 4 * i, h1 + 4 * i, vc0, vc1, out + i);
  if (i == count) return;
  if (count - i > 8) {
    i = count - 16;
    storeGreysOfSixteen(h0 + 4 * i, h1 + 4 * i, vc0, vc1, out + i);
    return;
  }
  i = count - 8;
  const __m128i c0Half = _mm256_castsi256_si128(vc0);
  const __m128i c1Half = _mm256_castsi256_si128(vc1);
  const __m128i grey =
      _mm_packs_epi32(greySumsOfFour(h0 + 4 * i, h1 + 4 * i, c0Half, c1Half),
                      greySumsOfFour(h0 + 4 * i + 16, h1 + 4 * i + 16, c0Half, c1Half));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(grey, grey));
}

// verticalColourToGreyAvx2 merged at weight one half into out[0, count)
// (mergeHalfRowWhole) as the greys come, sixteen a step; the last step
// overlaps the one before it and merges into the bytes as they were before
// the row, so that its overlap gets the same values again. Below 16 the
// baseline.
PLENOVIEW_AVX2 void verticalColourToGreyMergeAvx2(const short* h0, const short* h1, short c0,
                                                  short c1, uchar* out, int count) {
  if (count < 16) {
    verticalColourToGreyMerge(h0, h1, c0, c1, out, count);
    return;
  }
  const __m256i vc0 = _mm256_set1_epi16(c0);
  const __m256i vc1 = _mm256_set1_epi16(c1);
  const __m128i all = _mm_set1_epi8(-1);
  const int last = count - 16;
  const __m128i lastTarget = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + last));
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     mergeHalf16(t, greysOfSixteen(h0 + 4 * i, h1 + 4 * i, vc0, vc1), all));
  }
  if (i < count) {
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + last),
        mergeHalf16(lastTarget, greysOfSixteen(h0 + 4 * last, h1 + 4 * last, vc0, vc1), all));
  }
}
#endif

// The kernels of one computeWindow call: the baseline ones or their AVX2
// builds, chosen once per call.
struct Kernels {
  using Horizontal = void (*)(const uchar*, const int*, const int*, int, int, int, short*);
  using Vertical = void (*)(const short*, const short*, short, short, uchar*, int);
  Horizontal horizontalGrey;
  Horizontal horizontalColour3;
  Horizontal horizontalColour4;
  Vertical verticalBytes;
  Vertical verticalColourToGrey;
  Vertical verticalColourToGreyMerge;
};

const Kernels& chooseKernels() {
  static const Kernels baseline = {horizontalGrey, horizontalColour<3>,  horizontalColour<4>,
                                   verticalBytes,  verticalColourToGrey, verticalColourToGreyMerge};
#if defined(__x86_64__)
  static const Kernels avx2 = {horizontalGrey,           horizontalColourAvx2<3>,
                               horizontalColourAvx2<4>,  verticalBytesAvx2,
                               verticalColourToGreyAvx2, verticalColourToGreyMergeAvx2};
  if (useAvx2()) return avx2;
#endif
  return baseline;
}

// Columns of window row r under `spans` (one per row; all columns without),
// clipped to the window's `width`.
ColumnSpan spanOfRow(const ColumnSpan* spans, int r, int width) {
  if (!spans) return ColumnSpan{0, width};
  return ColumnSpan{std::max(spans[r].begin, 0), std::min(spans[r].end, width)};
}

// A window must lie inside its level.
void checkInside(const cv::Rect& window, cv::Size level) {
  CV_Assert(window.x >= 0 && window.y >= 0 && window.x + window.width <= level.width &&
            window.y + window.height <= level.height);
}

// Shorts of horizontally resampled source rows a window takes at once.
constexpr int kBlockShorts = 32768;

}  // namespace

std::vector<int> scaleLevelPatchSizes(const std::vector<int>& candidatePatchSizes, int lensMargin,
                                      int patchSizeStep) {
  const int n = static_cast<int>(candidatePatchSizes.size());
  const int levels = n == 0 ? 0 : n + 2 * lensMargin;
  std::vector<int> sizes(levels);
  for (int i = 0; i < levels; ++i) {
    sizes[i] =
        i < n ? candidatePatchSizes[i] : candidatePatchSizes[n - 1] + patchSizeStep * (i - n + 1);
  }
  return sizes;
}

cv::Size scaleLevelSize(cv::Size frameSize, int maskWidth, int patchSize) {
  const float f = static_cast<float>(maskWidth) / static_cast<float>(patchSize);
  return cv::Size(static_cast<int>(frameSize.width * f), static_cast<int>(frameSize.height * f));
}

std::vector<ColumnSpan> nonZeroSpans(const cv::Mat& mask) {
  std::vector<ColumnSpan> spans(mask.rows);
  for (int r = 0; r < mask.rows; ++r) {
    const uchar* m = mask.ptr<uchar>(r);
    int begin = 0;
    while (begin < mask.cols && m[begin] == 0) ++begin;
    int end = mask.cols;
    while (end > begin && m[end - 1] == 0) --end;
    spans[r] = begin < end ? ColumnSpan{begin, end} : ColumnSpan{0, 0};
  }
  return spans;
}

bool solidWithin(const cv::Mat& mask, const std::vector<ColumnSpan>& spans) {
  for (int r = 0; r < mask.rows; ++r) {
    const uchar* m = mask.ptr<uchar>(r);
    for (int x = spans[r].begin; x < spans[r].end; ++x) {
      if (m[x] != 255) return false;
    }
  }
  return true;
}

void ScaleLevelWindows::reset(const cv::Mat& frame, int maskWidth,
                              const std::vector<int>& levelPatchSizes) {
  CV_Assert(frame.depth() == CV_8U && (frame.channels() == 1 || frame.channels() == 3));
  const bool sameTables =
      !levels_.empty() && frame.size() == frameSize_ && frame.channels() == channels_ &&
      maskWidth == maskWidth_ && levelPatchSizes.size() == levels_.size() &&
      std::equal(levelPatchSizes.begin(), levelPatchSizes.end(), levels_.begin(),
                 [](int size, const Level& level) { return size == level.patchSize; });
  frame_ = frame;
  if (sameTables) return;

  frameSize_ = frame.size();
  maskWidth_ = maskWidth;
  channels_ = frame.channels();
  levels_.assign(levelPatchSizes.size(), Level());
  for (size_t i = 0; i < levels_.size(); ++i) {
    Level& level = levels_[i];
    level.patchSize = levelPatchSizes[i];
    level.size = scaleLevelSize(frame.size(), maskWidth, level.patchSize);
    level.copy = level.size == frame.size();
    // A level of the frame's own size gets tables too: they come out as the
    // identity (each index reads itself with weight 2048, the next with 0),
    // through which the grey windows of a colour frame take the resampling's
    // vector loops: h = 128 x v, then ((128 x v x 2048) >> 16 + 2) >> 2 = v.
    buildAxis(frame.cols, level.size.width, true, channels_, level.columns);
    level.safeEnd = safeColumnEnd(frame.cols * channels_, channels_, level.columns);
    buildAxis(frame.rows, level.size.height, false, 1, level.rows);
  }
}

void ScaleLevelWindows::clear() {
  frame_.release();
  levels_.clear();
}

template <typename FinishRow>
void ScaleLevelWindows::resampleWindow(int level, const cv::Rect& window, bool toGrey,
                                       const std::vector<ColumnSpan>* spans,
                                       FinishRow finishRow) const {
  const Level& L = levels_[level];
  const int cn = channels_;
  const int w = window.width;
  const int h = window.height;
  const int lanes = cn == 1 ? 1 : toGrey ? 4 : 3;
  const Kernels& kernels = chooseKernels();
  const Kernels::Horizontal horizontal = lanes == 4   ? kernels.horizontalColour4
                                         : lanes == 3 ? kernels.horizontalColour3
                                                      : kernels.horizontalGrey;
  const int* first = L.columns.first.data() + window.x;
  const int* pairs = L.columns.pairs.data() + window.x;
  const int safeEnd = L.safeEnd - window.x;

  // The two frame rows window row r reads.
  const int* upperRows = L.rows.first.data() + window.y;
  const int* lowerRows = L.rows.second.data() + window.y;
  const int* rowPairs = L.rows.pairs.data() + window.y;
  auto upperRow = [&](int r) { return static_cast<ptrdiff_t>(upperRows[r]); };
  auto lowerRow = [&](int r) { return static_cast<ptrdiff_t>(lowerRows[r]); };
  const ColumnSpan* const spanData = spans ? spans->data() : nullptr;

  // The window is taken in blocks of rows: first the horizontal pass of
  // every source row the block reads, over the columns that any of its rows
  // needs, then the block's rows from them. A lens-sized window is one
  // block. Source rows do not decrease with window rows.
  const int stride = w * 4 + 4;  // shorts per source row, with room for the last 3-lane store
  const int maxSourceRows = std::max(2, kBlockShorts / stride);
  thread_local std::vector<short> block;
  thread_local std::vector<ColumnSpan> sourceSpans;
  for (int blockBegin = 0; blockBegin < h;) {
    const int firstSource = static_cast<int>(upperRow(blockBegin));
    int blockEnd = h;
    if (lowerRow(h - 1) - firstSource + 1 > maxSourceRows) {
      blockEnd = blockBegin + 1;
      while (blockEnd < h && lowerRow(blockEnd) - firstSource + 1 <= maxSourceRows) ++blockEnd;
    }
    const int rows = static_cast<int>(lowerRow(blockEnd - 1)) - firstSource + 1;
    // Per source row the hull of the spans of the rows that read it. (The
    // vectors' data are taken once: the compiler cannot tell that the
    // kernels leave them alone.)
    sourceSpans.assign(rows, ColumnSpan{w, 0});
    ColumnSpan* const hulls = sourceSpans.data();
    const ptrdiff_t shift = firstSource;
    for (int r = blockBegin; r < blockEnd; ++r) {
      const ColumnSpan span = spanOfRow(spanData, r, w);
      if (span.begin >= span.end) continue;
      for (ColumnSpan* hull : {hulls + (upperRow(r) - shift), hulls + (lowerRow(r) - shift)}) {
        hull->begin = std::min(hull->begin, span.begin);
        hull->end = std::max(hull->end, span.end);
      }
    }
    if (block.size() < static_cast<size_t>(rows) * stride) block.resize(rows * stride);
    short* const resampled = block.data();
    for (int i = 0; i < rows; ++i) {
      const ColumnSpan hull = hulls[i];
      if (hull.begin >= hull.end) continue;
      horizontal(frame_.ptr<uchar>(firstSource + i), first, pairs, hull.begin, hull.end, safeEnd,
                 resampled + static_cast<ptrdiff_t>(i) * stride);
    }
    for (int r = blockBegin; r < blockEnd; ++r) {
      const ColumnSpan span = spanOfRow(spanData, r, w);
      if (span.begin >= span.end) continue;
      const short* h0 = resampled + (upperRow(r) - shift) * stride + span.begin * lanes;
      const short* h1 = resampled + (lowerRow(r) - shift) * stride + span.begin * lanes;
      finishRow(r, span, h0, h1, weight0Of(rowPairs[r]), weight1Of(rowPairs[r]));
    }
    blockBegin = blockEnd;
  }
}

void ScaleLevelWindows::computeWindow(int level, const cv::Rect& window, bool grey, cv::Mat& out,
                                      const std::vector<ColumnSpan>* spans) const {
  const Level& L = levels_[level];
  checkInside(window, L.size);
  const int cn = channels_;
  const bool toGrey = grey && cn == 3;
  out.create(window.size(), toGrey ? CV_8UC1 : frame_.type());

  if (L.copy && !toGrey) {
    // Copied as it is.
    for (int r = 0; r < window.height; ++r) {
      const ColumnSpan span = spanOfRow(spans ? spans->data() : nullptr, r, window.width);
      if (span.begin >= span.end) continue;
      std::memcpy(out.ptr<uchar>(r) + span.begin * cn,
                  frame_.ptr<uchar>(window.y + r) + (window.x + span.begin) * cn,
                  (span.end - span.begin) * cn);
    }
    return;
  }
  const Kernels& kernels = chooseKernels();
  resampleWindow(level, window, toGrey, spans,
                 [&](int r, ColumnSpan span, const short* h0, const short* h1, short c0, short c1) {
                   uchar* target = out.ptr<uchar>(r) + span.begin * out.channels();
                   if (toGrey) {
                     kernels.verticalColourToGrey(h0, h1, c0, c1, target, span.end - span.begin);
                   } else {
                     kernels.verticalBytes(h0, h1, c0, c1, target, (span.end - span.begin) * cn);
                   }
                 });
}

void ScaleLevelWindows::mergeWindow(int level, const cv::Rect& window, bool grey,
                                    const std::vector<ColumnSpan>& spans, uchar* target,
                                    size_t targetStep) const {
  const Level& L = levels_[level];
  checkInside(window, L.size);
  const bool toGrey = grey && channels_ == 3;
  const int cn = toGrey ? 1 : channels_;
  auto rowOf = [&](int r, ColumnSpan span) { return target + r * targetStep + span.begin * cn; };
  if (L.copy && !toGrey) {
    for (int r = 0; r < window.height; ++r) {
      const ColumnSpan span = spanOfRow(spans.data(), r, window.width);
      if (span.begin >= span.end) continue;
      mergeHalfRowWhole(frame_.ptr<uchar>(window.y + r) + (window.x + span.begin) * cn,
                        rowOf(r, span), (span.end - span.begin) * cn);
    }
    return;
  }
  const Kernels& kernels = chooseKernels();
  if (toGrey) {
    resampleWindow(
        level, window, true, &spans,
        [&](int r, ColumnSpan span, const short* h0, const short* h1, short c0, short c1) {
          kernels.verticalColourToGreyMerge(h0, h1, c0, c1, rowOf(r, span), span.end - span.begin);
        });
    return;
  }
  thread_local std::vector<uchar> row;
  if (row.size() < static_cast<size_t>(window.width * cn)) row.resize(window.width * cn);
  resampleWindow(level, window, false, &spans,
                 [&](int r, ColumnSpan span, const short* h0, const short* h1, short c0, short c1) {
                   const int count = (span.end - span.begin) * cn;
                   kernels.verticalBytes(h0, h1, c0, c1, row.data(), count);
                   mergeHalfRowWhole(row.data(), rowOf(r, span), count);
                 });
}

}  // namespace plenoview
