#pragma once

#include <opencv2/core.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plenoview {

// The patch merge at weight 0.5 on one row, byte by byte: where `inside` is
// non-zero an empty (0) target byte takes the patch byte and any other the
// truncated mean trunc(0.5 x patch + 0.5 x target). That mean is exact in
// double, so it equals floor((patch + target) / 2).
inline uchar mergeHalfByte(uchar target, uchar patch, uchar inside) {
  if (!inside) return target;
  return target == 0 ? patch : static_cast<uchar>((target + patch) >> 1);
}

#if defined(__SSE2__)
// Sixteen bytes of the same: floor((t + p) / 2) is the rounded-up average
// less the odd bit of t + p.
inline __m128i mergeHalf16(__m128i t, __m128i p, __m128i inside) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i mean =
      _mm_sub_epi8(_mm_avg_epu8(t, p), _mm_and_si128(_mm_xor_si128(t, p), _mm_set1_epi8(1)));
  const __m128i empty = _mm_cmpeq_epi8(t, zero);
  const __m128i merged = _mm_or_si128(_mm_and_si128(empty, p), _mm_andnot_si128(empty, mean));
  const __m128i write = _mm_cmpeq_epi8(_mm_cmpeq_epi8(inside, zero), zero);
  return _mm_or_si128(_mm_and_si128(write, merged), _mm_andnot_si128(write, t));
}
#endif

// `count` bytes of `patch` merged into `target` where `inside` is non-zero.
// A row of 16 bytes or more is merged in 16-byte steps, the last step
// overlapping the one before it; every step is computed from the target's
// bytes as they were, so overlapping bytes get the same value twice.
inline void mergeHalfRow(const uchar* patch, uchar* target, const uchar* inside, int count) {
  int i = 0;
#if defined(__SSE2__)
  if (count >= 16) {
    const int last = count - 16;
    const __m128i lastTarget = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + last));
    for (; i + 16 <= count; i += 16) {
      const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + i));
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(patch + i));
      const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inside + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), mergeHalf16(t, p, m));
    }
    if (i < count) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(patch + last));
      const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inside + last));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + last), mergeHalf16(lastTarget, p, m));
    }
    return;
  }
#endif
  for (; i < count; ++i) target[i] = mergeHalfByte(target[i], patch[i], inside[i]);
}

// The same where every byte is inside.
inline void mergeHalfRowWhole(const uchar* patch, uchar* target, int count) {
  int i = 0;
#if defined(__SSE2__)
  if (count >= 16) {
    const __m128i all = _mm_set1_epi8(-1);
    const int last = count - 16;
    const __m128i lastTarget = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + last));
    for (; i + 16 <= count; i += 16) {
      const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + i));
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(patch + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), mergeHalf16(t, p, all));
    }
    if (i < count) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(patch + last));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + last), mergeHalf16(lastTarget, p, all));
    }
    return;
  }
#endif
  for (; i < count; ++i) target[i] = mergeHalfByte(target[i], patch[i], 1);
}

// The same with one patch value for every byte.
inline void mergeHalfRowConstant(uchar value, uchar* target, const uchar* inside, int count) {
  for (int i = 0; i < count; ++i) target[i] = mergeHalfByte(target[i], value, inside[i]);
}

// The same with one patch value for every byte, every byte inside.
inline void mergeHalfRowConstantWhole(uchar value, uchar* target, int count) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i all = _mm_set1_epi8(-1);
  const __m128i p = _mm_set1_epi8(static_cast<char>(value));
  for (; i + 16 <= count; i += 16) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), mergeHalf16(t, p, all));
  }
#endif
  for (; i < count; ++i) target[i] = mergeHalfByte(target[i], value, 1);
}

// Per byte of an image with `channels` channels of `mask`'s size: 255 where
// the mask is exactly 255 (the pixels the merge writes), 0 elsewhere.
inline cv::Mat mergeBytes(const cv::Mat& mask, int channels) {
  cv::Mat bytes(mask.rows, mask.cols * channels, CV_8UC1);
  for (int r = 0; r < mask.rows; ++r) {
    const uchar* m = mask.ptr<uchar>(r);
    uchar* b = bytes.ptr<uchar>(r);
    for (int x = 0; x < mask.cols; ++x) {
      for (int c = 0; c < channels; ++c) b[x * channels + c] = m[x] == 255 ? 255 : 0;
    }
  }
  return bytes;
}

}  // namespace plenoview
