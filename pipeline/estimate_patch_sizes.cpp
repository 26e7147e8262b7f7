#include "pipeline/estimate_patch_sizes.h"

#include "base/instruction_set.h"
#include "base/parallel_work.h"
#include "pipeline/check_roi_range.h"
#include "pipeline/scored_pixels.h"

#include <opencv2/imgproc.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <array>
#include <cmath>
#include <vector>

namespace plenoview {

namespace {

// Copies the bytes of `from` into `to` where `mask` is not 0, over a window
// of `size` (`step` bytes between the rows of `from` and `to`, `maskStep`
// between those of `mask`), and returns the sum of the window's bytes of `to`
// afterwards.
long long copyThroughMaskAndSum(const uchar* from, uchar* to, size_t step, const uchar* mask,
                                size_t maskStep, cv::Size size) {
#if defined(__SSE2__)
  if (size.width >= 16) {
    // Sixteen bytes a step, each summed as it is stored. A last step
    // overlapping the one before it is computed from the bytes as they were
    // before the row was written (so it copies the overlap again to the same
    // values) and counts only the bytes the steps before it did not.
    const int full = size.width / 16 * 16;
    const int rest = size.width - full;
    alignas(16) uchar keep[16];
    for (int i = 0; i < 16; ++i) keep[i] = i >= 16 - rest ? 0xFF : 0;
    const __m128i keepRest = _mm_load_si128(reinterpret_cast<const __m128i*>(keep));
    const __m128i zero = _mm_setzero_si128();
    auto copied = [&](const uchar* in, __m128i old, const uchar* m) {
      const __m128i outside =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m)), zero);
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
      return _mm_or_si128(_mm_and_si128(outside, old), _mm_andnot_si128(outside, v));
    };
    __m128i total = zero;
    for (int r = 0; r < size.height; ++r) {
      const uchar* in = from + r * step;
      uchar* out = to + r * step;
      const uchar* m = mask + r * maskStep;
      const int last = size.width - 16;
      const __m128i lastOld = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + last));
      for (int c = 0; c < full; c += 16) {
        const __m128i v =
            copied(in + c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + c)), m + c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), v);
        total = _mm_add_epi64(total, _mm_sad_epu8(v, zero));
      }
      if (rest > 0) {
        const __m128i v = copied(in + last, lastOld, m + last);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + last), v);
        total = _mm_add_epi64(total, _mm_sad_epu8(_mm_and_si128(v, keepRest), zero));
      }
    }
    alignas(16) long long halves[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(halves), total);
    return halves[0] + halves[1];
  }
#endif
  long long sum = 0;
  for (int r = 0; r < size.height; ++r) {
    const uchar* in = from + r * step;
    uchar* out = to + r * step;
    const uchar* m = mask + r * maskStep;
    for (int c = 0; c < size.width; ++c) {
      if (m[c] != 0) out[c] = in[c];
      sum += out[c];
    }
  }
  return sum;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) inline __m256i load32(const uchar* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// copyThroughMaskAndSum 32 bytes a step where the window is at least 32
// wide, the last step overlapping as in the baseline; chosen at run time
// (useAvx2).
__attribute__((target("avx2"))) long long copyThroughMaskAndSumAvx2(const uchar* from, uchar* to,
                                                                    size_t step, const uchar* mask,
                                                                    size_t maskStep,
                                                                    cv::Size size) {
  const int full = size.width / 32 * 32;
  const int rest = size.width - full;
  const int last = size.width - 32;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i keepRest = _mm256_cmpgt_epi8(
      _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                       22, 23, 24, 25, 26, 27, 28, 29, 30, 31),
      _mm256_set1_epi8(static_cast<char>(31 - rest)));
  __m256i total = zero;
  for (int r = 0; r < size.height; ++r) {
    const uchar* in = from + r * step;
    uchar* out = to + r * step;
    const uchar* m = mask + r * maskStep;
    const __m256i lastOld = load32(out + last);
    for (int c = 0; c < full; c += 32) {
      const __m256i outside = _mm256_cmpeq_epi8(load32(m + c), zero);
      const __m256i v = _mm256_blendv_epi8(load32(in + c), load32(out + c), outside);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), v);
      total = _mm256_add_epi64(total, _mm256_sad_epu8(v, zero));
    }
    if (rest > 0) {
      const __m256i outside = _mm256_cmpeq_epi8(load32(m + last), zero);
      const __m256i v = _mm256_blendv_epi8(load32(in + last), lastOld, outside);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + last), v);
      total = _mm256_add_epi64(total, _mm256_sad_epu8(_mm256_and_si256(v, keepRest), zero));
    }
  }
  alignas(32) long long quarters[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(quarters), total);
  _mm256_zeroupper();
  return quarters[0] + quarters[1] + quarters[2] + quarters[3];
}
#endif

}  // namespace

cv::Mat scoreLensEdges(const MultiViewRenderer& renderer, const cv::Mat& laplacian, int type,
                       cv::Point view, int rawBorder, const LineSink& report) {
  const LensCalibration& calib = renderer.calib;
  const cv::Mat& ring = renderer.lensEdgeMask;
  CV_Assert(laplacian.type() == CV_8UC1 && ring.type() == CV_8UC1);
  const double ringSum = cv::sum(ring)[0];

  // The Laplacian and edgeImage have the same layout.
  CV_Assert(laplacian.isContinuous());
  const size_t step = laplacian.step;

  cv::Mat scores = cv::Mat::zeros(calib.num.y, calib.num.x, CV_64FC1);
  // Cleared once, not per lens: a window also sums what overlapping lenses
  // scored before it left there.
  // (Per thread, reused from call to call.)
  thread_local cv::Mat edgeImage;
  edgeImage.create(laplacian.size(), CV_8UC1);
  edgeImage.setTo(cv::Scalar::all(0));
#if defined(__x86_64__)
  const bool avx2 = useAvx2() && ring.cols >= 32;
#else
  const bool avx2 = false;
  auto copyThroughMaskAndSumAvx2 = copyThroughMaskAndSum;
#endif
  for (int row = 0; row < calib.num.y; ++row) {
    for (int column = 0; column < calib.num.x; ++column) {
      const cv::Rect window =
          renderer.viewPosition(ring.size(), type, row, column, view, rawBorder);
      if (!checkRoiRange(laplacian, window, report)) continue;
      // The Laplacian through the ring into edgeImage, then the sum of the
      // whole window (exact in integers, as the double sum of bytes is).
      const size_t corner = window.y * step + window.x;
      const long long sum =
          avx2 ? copyThroughMaskAndSumAvx2(laplacian.data + corner, edgeImage.data + corner, step,
                                           ring.data, ring.step, window.size())
               : copyThroughMaskAndSum(laplacian.data + corner, edgeImage.data + corner, step,
                                       ring.data, ring.step, window.size());
      const double score = std::floor(static_cast<double>(sum) / ringSum * 100.0);
      scores.at<double>(row, column) += score;
    }
  }
  return scores;
}

void selectPatchSizes(const std::vector<cv::Mat>& scoreTables, const std::vector<int>& candidates,
                      cv::Mat& patchSize) {
  for (int row = 0; row < patchSize.rows; ++row) {
    for (int column = 0; column < patchSize.cols; ++column) {
      // One evaluated view: a score of 100 or more never wins.
      int best = 100;
      for (size_t i = 0; i < candidates.size(); ++i) {
        const int v = static_cast<int>(scoreTables[i].at<double>(row, column));
        if (v < best) {
          best = v;
          patchSize.at<uchar>(row, column) = static_cast<uchar>(candidates[i] & 0xFF);
        }
      }
    }
  }
}

void MultiViewRenderer::estimatePatchSizes(const FrameImages& images, const LineSink& lines) {
  // One view, the centre one, decides for all.
  const cv::Point view = centerView;
  const size_t n = candidatePatchSizes.size();

  // Every (candidate, type) is rendered, its Laplacian taken and scored as
  // one work item on one thread: many items balance the threads, and each
  // view stays in that thread's cache from its rendering to its score. Only
  // the rims' Laplacian is taken; with the levels built whole, the
  // reference, the whole Laplacian. The window lines are held per item and
  // passed on in the order of one thread: the renderings' by candidate, then
  // type; then the scoring's by type, then candidate.
  if (!scoredPixels || scoredPixels->view != view || scoredPixels->rawBorder != images.rawBorder) {
    scoredPixels =
        std::make_shared<const ScoredPixels>(scoredPixelsOf(*this, view, images.rawBorder));
  }
  const ScoredPixels& scored = *scoredPixels;
  const bool whole = options.buildAllScaleLevels;
  std::array<std::vector<cv::Mat>, kLensTypes> scoreTables;
  std::array<std::vector<HeldLines>, kLensTypes> scoringLines;
  for (int type = 0; type < kLensTypes; ++type) {
    scoreTables[type].resize(n);
    scoringLines[type].resize(n);
  }
  std::vector<HeldLines> renderingLines(n * kLensTypes);
  parallelForEach(static_cast<int>(n) * kLensTypes, [&](int item) {
    const int i = item / kLensTypes;
    const int type = item % kLensTypes;
    // Per thread, reused from item to item and from frame to frame.
    thread_local cv::Mat typeView;
    thread_local cv::Mat laplacian;
    renderTypeViewAtSize(images, type, view, candidatePatchSizes[i], typeView,
                         lines ? renderingLines[item].sink() : LineSink());
    if (whole) {
      // Aperture 1: the 3 x 3 cross with centre -4, scaled by 3, saturated
      // to 8 bits (negative responses become 0).
      cv::Laplacian(typeView, laplacian, CV_8U, 1, 3.0, 0.0, cv::BORDER_REFLECT_101);
    } else {
      // Zeroed when made: only the rim pixels are written from then on.
      if (laplacian.size() != viewSize || laplacian.type() != CV_8UC1) {
        laplacian = cv::Mat::zeros(viewSize, CV_8UC1);
      }
      rimLaplacian(typeView, scored.rimRowStart[type], scored.rimRuns[type], laplacian);
    }
    scoreTables[type][i] = scoreLensEdges(*this, laplacian, type, view, images.rawBorder,
                                          lines ? scoringLines[type][i].sink() : LineSink());
  });

  for (HeldLines& held : renderingLines) held.passTo(lines);
  for (int type = 0; type < kLensTypes; ++type) {
    for (HeldLines& held : scoringLines[type]) held.passTo(lines);
    selectPatchSizes(scoreTables[type], candidatePatchSizes, patchSize[type]);
  }
}

}  // namespace plenoview
