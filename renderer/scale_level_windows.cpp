#include "renderer/scale_level_windows.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plenoview {

namespace {

// Where each destination index of one axis reads, as OpenCV's bilinear resize
// places it. `stride` turns column indices into byte offsets (1 for rows).
template <typename Axis>
void buildAxis(int sourceLength, int destinationLength, bool clampWeights,
               int stride, Axis& axis) {
  axis.first.resize(destinationLength);
  axis.second.resize(destinationLength);
  axis.weight0.resize(destinationLength);
  axis.weight1.resize(destinationLength);
  const double inverse = static_cast<double>(destinationLength) / sourceLength;
  const double scale = 1.0 / inverse;
  const int last = sourceLength - 1;
  for (int d = 0; d < destinationLength; ++d) {
    // Computed in double, rounded once to float.
    float f = static_cast<float>((d + 0.5) * scale - 0.5);
    int s = cvFloor(f);
    f -= s;
    int first = s;
    int second = s + 1;
    if (clampWeights) {
      // Columns: outside the frame the edge column is taken whole.
      if (s < 0) {
        s = 0;
        f = 0;
      }
      if (s >= last) {
        s = last;
        f = 0;
      }
      first = s;
      second = std::min(s + 1, last);
    } else {
      // Rows keep their weight; only the rows read are clipped.
      first = std::clamp(first, 0, last);
      second = std::clamp(second, 0, last);
    }
    axis.first[d] = first * stride;
    axis.second[d] = second * stride;
    axis.weight0[d] = cv::saturate_cast<short>((1.f - f) * 2048);
    axis.weight1[d] = cv::saturate_cast<short>(f * 2048);
  }
}

// Both weights of each column in one int, and the first column from which on
// an 8-byte load at the first tap or a 4-byte load at the second could pass
// the end of the row.
template <typename Axis>
void addColumnPairs(int rowBytes, Axis& axis) {
  const int n = static_cast<int>(axis.first.size());
  axis.pairs.resize(n);
  axis.safeEnd = n;
  for (int d = 0; d < n; ++d) {
    axis.pairs[d] = static_cast<int>(static_cast<unsigned short>(axis.weight0[d]) |
                                     (static_cast<unsigned>(static_cast<unsigned short>(axis.weight1[d])) << 16));
    if (axis.safeEnd == n && (axis.first[d] + 8 > rowBytes || axis.second[d] + 4 > rowBytes)) {
      axis.safeEnd = d;
    }
  }
}

// Horizontal resampling keeps h >> 4 per sample, which fits 16 bits
// (h <= 255 x 2049). A colour row is kept with three lanes per pixel when the
// window is wanted in colour, with four (the fourth unused) when it is wanted
// in grey, where a pixel's lanes then form one 64-bit group.

int load32(const uchar* p) {
  int v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// One grey source row over window columns [begin, end).
void horizontalGrey(const uchar* source, const int* first, const int* second, const short* w0,
                    const short* w1, int begin, int end, short* out) {
  for (int i = begin; i < end; ++i) {
    out[i] = static_cast<short>((source[first[i]] * w0[i] + source[second[i]] * w1[i]) >> 4);
  }
}

// One colour source row over window columns [begin, end), `Lanes` lanes per
// pixel. `pairs` holds both weights of a column as one int (w0 in the low
// half); columns from `safeEnd` on have a tap too close to the row's end for
// the wide loads.
template <int Lanes>
void horizontalColour(const uchar* source, const int* first, const int* second, const short* w0,
                      const short* w1, const int* pairs, int begin, int end, int safeEnd,
                      short* out) {
  int i = begin;
#if defined(__SSE2__)
  // Per pixel: the bytes of both taps interleaved as 16-bit lanes
  // (a0 b0 a1 b1 a2 b2 . .), times (w0 w1 w0 w1 ...) summed in pairs.
  const __m128i zero = _mm_setzero_si128();
  const int vectorEnd = std::min(end, safeEnd);
  // Both taps of a pixel that reads neighbouring source pixels come from one
  // 8-byte load, interleaved with itself moved by one pixel.
  auto taps = [&](int d) {
    if (second[d] == first[d] + 3) {
      const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + first[d]));
      return _mm_unpacklo_epi8(_mm_unpacklo_epi8(v, _mm_srli_si128(v, 3)), zero);
    }
    return _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(load32(source + first[d])),
                                               _mm_cvtsi32_si128(load32(source + second[d]))),
                             zero);
  };
  for (; i + 2 <= vectorEnd; i += 2) {
    const __m128i p0 = taps(i);
    const __m128i p1 = taps(i + 1);
    const __m128i h0 = _mm_srai_epi32(_mm_madd_epi16(p0, _mm_set1_epi32(pairs[i])), 4);
    const __m128i h1 = _mm_srai_epi32(_mm_madd_epi16(p1, _mm_set1_epi32(pairs[i + 1])), 4);
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
  (void)pairs;
  (void)safeEnd;
#endif
  for (; i < end; ++i) {
    const uchar* a = source + first[i];
    const uchar* b = source + second[i];
    for (int c = 0; c < 3; ++c) {
      out[Lanes * i + c] = static_cast<short>((a[c] * w0[i] + b[c] * w1[i]) >> 4);
    }
  }
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
// Two colour pixels (eight lanes) of the vertical pass, each lane in 0..255.
inline __m128i verticalLanes(const short* h0, const short* h1, __m128i c0, __m128i c1) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h1));
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epi16(a, c0), _mm_mulhi_epi16(b, c1)),
                                    _mm_set1_epi16(2));
  const __m128i v = _mm_srai_epi16(sum, 2);
  return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(255));
}
#endif

#if defined(__SSE2__)
// Grey of four colour pixels from their vertical pass: per pixel
// (b0 x 9798 + b1 x 19235) and (b2 x 3735 + 0), added.
inline int greyOfFour(const short* h0, const short* h1, __m128i c0, __m128i c1) {
  const __m128i weights = _mm_set_epi16(0, 3735, 19235, 9798, 0, 3735, 19235, 9798);
  __m128i m0 = _mm_madd_epi16(verticalLanes(h0, h1, c0, c1), weights);
  __m128i m1 = _mm_madd_epi16(verticalLanes(h0 + 8, h1 + 8, c0, c1), weights);
  m0 = _mm_add_epi32(m0, _mm_shuffle_epi32(m0, _MM_SHUFFLE(2, 3, 0, 1)));
  m1 = _mm_add_epi32(m1, _mm_shuffle_epi32(m1, _MM_SHUFFLE(2, 3, 0, 1)));
  __m128i sums = _mm_unpacklo_epi64(_mm_shuffle_epi32(m0, _MM_SHUFFLE(3, 1, 2, 0)),
                                    _mm_shuffle_epi32(m1, _MM_SHUFFLE(3, 1, 2, 0)));
  sums = _mm_srli_epi32(_mm_add_epi32(sums, _mm_set1_epi32(16384)), 15);
  sums = _mm_packs_epi32(sums, sums);
  return _mm_cvtsi128_si32(_mm_packus_epi16(sums, sums));
}
#endif

// Grey pixels [0, count) from the vertical pass of a colour row kept with
// four lanes: the colour bytes, then their grey. Every output depends only on
// its own inputs, so a last group of four may overlap the one before it.
void verticalColourToGrey(const short* h0, const short* h1, short c0, short c1, uchar* out,
                          int count) {
#if defined(__SSE2__)
  if (count >= 4) {
    const __m128i vc0 = _mm_set1_epi16(c0);
    const __m128i vc1 = _mm_set1_epi16(c1);
    for (int i = 0;; i += 4) {
      if (i + 4 > count) i = count - 4;
      const int grey = greyOfFour(h0 + 4 * i, h1 + 4 * i, vc0, vc1);
      std::memcpy(out + i, &grey, 4);
      if (i + 4 == count) return;
    }
  }
#endif
  for (int i = 0; i < count; ++i) {
    const short* a = h0 + 4 * i;
    const short* b = h1 + 4 * i;
    out[i] = greySample(verticalSample(a[0], b[0], c0, c1), verticalSample(a[1], b[1], c0, c1),
                        verticalSample(a[2], b[2], c0, c1));
  }
}

// Scratch of one thread: two horizontally resampled source rows.
struct RowScratch {
  std::vector<short> row[2];
  int source[2] = {-1, -1};
};

}  // namespace

cv::Size scaleLevelSize(cv::Size frameSize, int maskWidth, int patchSize) {
  const float f = static_cast<float>(maskWidth) / static_cast<float>(patchSize);
  return cv::Size(static_cast<int>(frameSize.width * f),
                  static_cast<int>(frameSize.height * f));
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

void ScaleLevelWindows::reset(const cv::Mat& frame, int maskWidth,
                              const std::vector<int>& levelPatchSizes) {
  CV_Assert(frame.depth() == CV_8U &&
            (frame.channels() == 1 || frame.channels() == 3));
  const bool sameTables =
      !frame_.empty() && frame.size() == frame_.size() &&
      frame.channels() == channels_ && maskWidth == maskWidth_ &&
      levelPatchSizes.size() == levels_.size() &&
      std::equal(
          levelPatchSizes.begin(), levelPatchSizes.end(), levels_.begin(),
          [](int size, const Level& level) { return size == level.patchSize; });
  frame_ = frame;
  if (sameTables) return;

  maskWidth_ = maskWidth;
  channels_ = frame.channels();
  levels_.assign(levelPatchSizes.size(), Level());
  for (size_t i = 0; i < levels_.size(); ++i) {
    Level& level = levels_[i];
    level.patchSize = levelPatchSizes[i];
    level.size = scaleLevelSize(frame.size(), maskWidth, level.patchSize);
    level.copy = level.size == frame.size();
    if (level.copy) continue;
    buildAxis(frame.cols, level.size.width, true, channels_, level.columns);
    addColumnPairs(frame.cols * channels_, level.columns);
    buildAxis(frame.rows, level.size.height, false, 1, level.rows);
  }
}

void ScaleLevelWindows::clear() {
  frame_.release();
  levels_.clear();
}

void ScaleLevelWindows::computeWindow(int level, const cv::Rect& window, bool grey, cv::Mat& out,
                                      const std::vector<ColumnSpan>* spans) const {
  const Level& L = levels_[level];
  CV_Assert(window.x >= 0 && window.y >= 0 && window.x + window.width <= L.size.width &&
            window.y + window.height <= L.size.height);
  const int cn = channels_;
  const bool toGrey = grey && cn == 3;
  out.create(window.size(), toGrey ? CV_8UC1 : frame_.type());
  const int w = window.width;
  const int lanes = cn == 1 ? 1 : toGrey ? 4 : 3;

  thread_local RowScratch scratch;
  for (int s = 0; s < 2; ++s) {
    if (static_cast<int>(scratch.row[s].size()) < w * 4 + 4) scratch.row[s].resize(w * 4 + 4);
    scratch.source[s] = -1;
  }

  const int x = window.x;
  const int* first = L.columns.first.data() + x;
  const int* second = L.columns.second.data() + x;
  const short* w0 = L.columns.weight0.data() + x;
  const short* w1 = L.columns.weight1.data() + x;
  const int* pairs = L.columns.pairs.data() + x;
  const int safeEnd = L.columns.safeEnd - x;

  auto spanOf = [&](int r) {
    if (!spans) return ColumnSpan{0, w};
    return ColumnSpan{std::max((*spans)[r].begin, 0), std::min((*spans)[r].end, w)};
  };

  // Every source row is resampled once, over the columns that any window row
  // reading it needs. Source rows do not decrease with window rows.
  const int firstSource = L.copy ? 0 : L.rows.first[window.y];
  const int lastSource = L.copy ? -1 : L.rows.second[window.y + window.height - 1];
  thread_local std::vector<ColumnSpan> sourceSpans;
  sourceSpans.assign(std::max(0, lastSource - firstSource + 1), ColumnSpan{w, 0});
  if (!L.copy) {
    for (int r = 0; r < window.height; ++r) {
      const ColumnSpan span = spanOf(r);
      if (span.begin >= span.end) continue;
      for (const int row : {L.rows.first[window.y + r], L.rows.second[window.y + r]}) {
        ColumnSpan& hull = sourceSpans[row - firstSource];
        hull.begin = std::min(hull.begin, span.begin);
        hull.end = std::max(hull.end, span.end);
      }
    }
  }

  // The horizontal pass of source row `row`, from the scratch when it holds
  // it already; `keep` is the other row needed now.
  auto fetch = [&](int row, int keep) -> const short* {
    if (scratch.source[0] == row) return scratch.row[0].data();
    if (scratch.source[1] == row) return scratch.row[1].data();
    const int s = scratch.source[0] == keep ? 1 : 0;
    const ColumnSpan hull = sourceSpans[row - firstSource];
    const uchar* source = frame_.ptr<uchar>(row);
    if (lanes == 4) {
      horizontalColour<4>(source, first, second, w0, w1, pairs, hull.begin, hull.end, safeEnd,
                          scratch.row[s].data());
    } else if (lanes == 3) {
      horizontalColour<3>(source, first, second, w0, w1, pairs, hull.begin, hull.end, safeEnd,
                          scratch.row[s].data());
    } else {
      horizontalGrey(source, first, second, w0, w1, hull.begin, hull.end, scratch.row[s].data());
    }
    scratch.source[s] = row;
    return scratch.row[s].data();
  };

  for (int r = 0; r < window.height; ++r) {
    const ColumnSpan span = spanOf(r);
    const int begin = span.begin;
    const int end = span.end;
    if (begin >= end) continue;
    uchar* target = out.ptr<uchar>(r) + begin * out.channels();
    const int y = window.y + r;

    if (L.copy) {
      const uchar* source = frame_.ptr<uchar>(y) + (x + begin) * cn;
      if (toGrey) {
        for (int i = 0; i < end - begin; ++i) {
          target[i] = greySample(source[3 * i], source[3 * i + 1], source[3 * i + 2]);
        }
      } else {
        std::memcpy(target, source, (end - begin) * cn);
      }
      continue;
    }
    const int row0 = L.rows.first[y];
    const int row1 = L.rows.second[y];
    const short* h0 = fetch(row0, row1) + begin * lanes;
    const short* h1 = fetch(row1, row0) + begin * lanes;
    const short c0 = L.rows.weight0[y];
    const short c1 = L.rows.weight1[y];
    if (toGrey) {
      verticalColourToGrey(h0, h1, c0, c1, target, end - begin);
    } else {
      verticalBytes(h0, h1, c0, c1, target, (end - begin) * cn);
    }
  }
}

}  // namespace plenoview
