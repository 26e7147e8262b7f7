#include "pipeline/scored_pixels.h"

#include "base/instruction_set.h"
#include "pipeline/check_roi_range.h"

#include <opencv2/imgproc.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>

namespace plenoview {

namespace {

// Runs of rim pixels closer than this are joined.
constexpr int kJoinGap = 8;

#if defined(__x86_64__)
// Sixteen bytes from p, widened to 16 bits.
__attribute__((target("avx2"))) inline __m256i sixteenWide(const uchar* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// The Laplacian of sixteen pixels a step from x on while both neighbours of
// all sixteen lie inside the row (x + 16 <= cols - 1) and x < end, as the
// baseline's eight-pixel steps compute it; returns where it stopped. Chosen
// at run time (useAvx2); the target attribute keeps AVX2 out of the rest.
__attribute__((target("avx2"))) int rimLaplacianSixteens(const uchar* up, const uchar* mid,
                                                         const uchar* down, uchar* out, int x,
                                                         int end, int cols) {
  for (; x < end && x + 16 <= cols - 1; x += 16) {
    const __m256i sides =
        _mm256_add_epi16(_mm256_add_epi16(sixteenWide(up + x), sixteenWide(down + x)),
                         _mm256_add_epi16(sixteenWide(mid + x - 1), sixteenWide(mid + x + 1)));
    const __m256i t = _mm256_sub_epi16(sides, _mm256_slli_epi16(sixteenWide(mid + x), 2));
    const __m256i v = _mm256_add_epi16(_mm256_add_epi16(t, t), t);
    const __m128i bytes =
        _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), bytes);
  }
  _mm256_zeroupper();
  return x;
}
#endif

}  // namespace

ScoredPixels scoredPixelsOf(const MultiViewRenderer& renderer, cv::Point view, int rawBorder) {
  const cv::Mat& rim = renderer.lensEdgeMask;
  const cv::Size viewSize = renderer.viewSize;
  const cv::Point num = renderer.calib.num;
  ScoredPixels scored;
  scored.view = view;
  scored.rawBorder = rawBorder;
  cv::Mat rims(viewSize, CV_8UC1);
  for (int type = 0; type < kLensTypes; ++type) {
    // The rims of the lenses scoreLensEdges scores.
    rims.setTo(cv::Scalar::all(0));
    for (int row = 0; row < num.y; ++row) {
      for (int column = 0; column < num.x; ++column) {
        const cv::Rect window =
            renderer.viewPosition(rim.size(), type, row, column, view, rawBorder);
        if (!checkRoiRange(rims, window, LineSink())) continue;
        cv::Mat place = rims(window);
        place.setTo(cv::Scalar::all(255), rim);
      }
    }
    std::vector<int>& rowStart = scored.rimRowStart[type];
    std::vector<ColumnSpan>& runs = scored.rimRuns[type];
    rowStart.assign(1, 0);
    for (int y = 0; y < viewSize.height; ++y) {
      const uchar* r = rims.ptr<uchar>(y);
      const size_t rowFirst = runs.size();
      for (int x = 0; x < viewSize.width;) {
        if (r[x] == 0) {
          ++x;
          continue;
        }
        int end = x;
        while (end < viewSize.width && r[end] != 0) ++end;
        if (runs.size() > rowFirst && x - runs.back().end < kJoinGap) {
          runs.back().end = end;
        } else {
          runs.push_back({x, end});
        }
        x = end;
      }
      rowStart.push_back(static_cast<int>(runs.size()));
    }
  }
  return scored;
}

void rimLaplacian(const cv::Mat& view, const std::vector<int>& rowStart,
                  const std::vector<ColumnSpan>& runs, cv::Mat& laplacian) {
  CV_Assert(view.type() == CV_8UC1 && laplacian.type() == CV_8UC1 &&
            laplacian.size() == view.size());
  const int cols = view.cols;
  auto mirrored = [](int i, int length) {
    return cv::borderInterpolate(i, length, cv::BORDER_REFLECT_101);
  };
  const bool avx2 = useAvx2();
  for (int y = 0; y < view.rows; ++y) {
    const int first = rowStart[y];
    const int last = rowStart[y + 1];
    if (first == last) continue;
    const uchar* up = view.ptr<uchar>(mirrored(y - 1, view.rows));
    const uchar* mid = view.ptr<uchar>(y);
    const uchar* down = view.ptr<uchar>(mirrored(y + 1, view.rows));
    uchar* out = laplacian.ptr<uchar>(y);
    auto one = [&](int x) {
      const int sides = up[x] + down[x] + mid[mirrored(x - 1, cols)] + mid[mirrored(x + 1, cols)];
      const int v = 3 * sides - 12 * mid[x];
      out[x] = static_cast<uchar>(std::clamp(v, 0, 255));
    };
    for (int n = first; n < last; ++n) {
      const int begin = runs[n].begin;
      const int end = runs[n].end;
      int x = begin;
#if defined(__SSE2__)
      // Eight pixels a step where both neighbours of all eight lie inside
      // the row: 3 x (sides - 4 x centre) in 16 bits, saturated to a byte. A
      // step may pass the run's end: the pixels past it are not read, and a
      // rim pixel among them gets its own value again.
      if (x == 0) one(x++);
#if defined(__x86_64__)
      if (avx2) x = rimLaplacianSixteens(up, mid, down, out, x, end, cols);
#endif
      const __m128i zero = _mm_setzero_si128();
      auto load = [&](const uchar* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
      };
      for (; x < end && x + 8 <= cols - 1; x += 8) {
        const __m128i sides = _mm_add_epi16(_mm_add_epi16(load(up + x), load(down + x)),
                                            _mm_add_epi16(load(mid + x - 1), load(mid + x + 1)));
        const __m128i t = _mm_sub_epi16(sides, _mm_slli_epi16(load(mid + x), 2));
        const __m128i v = _mm_add_epi16(_mm_add_epi16(t, t), t);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(v, v));
      }
#endif
      for (; x < end; ++x) one(x);
    }
  }
}

}  // namespace plenoview
