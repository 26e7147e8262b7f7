#pragma once

#include <opencv2/core.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <type_traits>

namespace plenoview {

// The alignment's comparison of two views, counted without making the shifted
// image.

// The number of i in [0, count) with a[i] == b(i), where b(i) is b[i], or
// the one value b when `B` is uchar.
template <typename B>
inline int countEqualBytes(const uchar* a, B b, int count) {
  int equal = 0;
  int i = 0;
#if defined(__SSE2__)
  // Sixteen bytes a step: each equal byte becomes a 1, summed by psadbw.
  __m128i total = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  for (; i + 16 <= count; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    __m128i y;
    if constexpr (std::is_same_v<B, uchar>) {
      y = _mm_set1_epi8(static_cast<char>(b));
    } else {
      y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    }
    total = _mm_add_epi64(
        total, _mm_sad_epu8(_mm_and_si128(_mm_cmpeq_epi8(x, y), one), _mm_setzero_si128()));
  }
  equal = _mm_cvtsi128_si32(total) + _mm_cvtsi128_si32(_mm_srli_si128(total, 8));
#endif
  for (; i < count; ++i) {
    if constexpr (std::is_same_v<B, uchar>) {
      equal += a[i] == b;
    } else {
      equal += a[i] == b[i];
    }
  }
  return equal;
}

// The number of pixels in which `compared` differs from `base` shifted right
// by `shift` >= 0 pixels as shiftImage shifts it (both 8-bit, one channel, the
// same size): countNonZero of their absolute difference, without making the
// shifted image.
inline int countShiftedDifferences(const cv::Mat& compared, const cv::Mat& base, int shift) {
  CV_Assert(compared.size() == base.size() && compared.type() == CV_8UC1 && base.type() == CV_8UC1);
  const int cols = compared.cols;
  const int moved = std::min(cols, shift);
  int differing = 0;
  for (int r = 0; r < compared.rows; ++r) {
    const uchar* c = compared.ptr<uchar>(r);
    const uchar* b = base.ptr<uchar>(r);
    // Vacated columns hold the row's first byte.
    differing += moved - countEqualBytes(c, b[0], moved);
    differing += (cols - moved) - countEqualBytes(c + moved, b, cols - moved);
  }
  return differing;
}

}  // namespace plenoview
