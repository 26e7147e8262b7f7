#include "pipeline/blend_lens_types.h"

#include "base/instruction_set.h"
#include "base/parallel_work.h"
#include "calibration/lens_type_roles.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace plenoview {

LensTypeWeights lensTypeWeights(int first, int last, int entries) {
  const double half = (last - first) * 0.5;
  const double sigma = half * 0.5;
  LensTypeWeights w;
  for (int k = 0; k < kLensTypes; ++k) {
    const double mean = first + k * half;
    w[k].resize(entries);
    for (int l = 0; l < entries; ++l) {
      const double d = l - mean;
      w[k][l] = std::exp(d * d / (-2 * sigma * sigma)) * 1 / (std::sqrt(6.2831853) * sigma);
    }
  }
  for (int l = 0; l < entries; ++l) {
    const double s = w[1][l] + w[0][l] + w[2][l];
    for (int k = 0; k < kLensTypes; ++k) w[k][l] = w[k][l] / s;
  }
  return w;
}

namespace {

// Every term of the sum depends only on the lens type k, the patch size v and
// the sample S, so it is computed once per (k, v, S), exactly as the sum
// would compute it, and looked up per pixel: terms[k][v * 256 + S].
//   Grey: S x w_k[v] truncated toward zero. The weights sum to one, so the
//   three terms never exceed 255; the saturation only guards the invariant.
//   Colour: S x w_k[v] rounded (ties to even) and clamped to a byte; the
//   terms are added with saturation, since the rounding can carry a sum past
//   255. All terms are non-negative, so saturating once at the end is the
//   same as saturating after each addition.
// Grey truncates where colour rounds, and each term is rounded on its own
// rather than the sum once: the views must match the defined output byte for
// byte, and that is how it blends.
using TermTables = std::array<std::vector<uchar>, kLensTypes>;

TermTables termTables(const LensTypeWeights& w, bool colour) {
  TermTables terms;
  for (int k = 0; k < kLensTypes; ++k) {
    const int entries = static_cast<int>(w[k].size());
    terms[k].resize(static_cast<size_t>(entries) * 256);
    for (int v = 0; v < entries; ++v) {
      for (int S = 0; S < 256; ++S) {
        const double product = S * w[k][v];
        terms[k][v * 256 + S] = colour ? cv::saturate_cast<uchar>(product)
                                       : cv::saturate_cast<uchar>(static_cast<int>(product));
      }
    }
  }
  return terms;
}

// A term table in closed form: terms[S] == (S x multiplier + offset) >> 16
// for every sample S, all in integers, with a 16-bit multiplier and offset.
// Such a form lets eight samples be looked up at once in 16-bit lanes; it is
// only used where it gives every one of the 256 entries exactly.
struct TermForm {
  bool exact = false;
  int multiplier = 0;
  int offset = 0;
};

// Looks for the form of `terms` (256 entries) near weight x 65536: for a
// multiplier M, the offsets B that give entry S form the interval
//   terms[S] x 65536 - S x M <= B < (terms[S] + 1) x 65536 - S x M,
// so M fits when the intervals of all S and [0, 65536) meet.
TermForm termForm(const uchar* terms, double weight) {
  if (!(weight >= 0.0 && weight <= 1.0)) return {};
  const long long centre = static_cast<long long>(weight * 65536.0);
  for (int d = 0; d <= 64; ++d) {
    for (const long long m : {centre - d, centre + d}) {
      if (m < 0 || m > 65535) continue;
      long long low = 0;
      long long high = 65536;
      for (int S = 0; S < 256 && low < high; ++S) {
        low = std::max(low, terms[S] * 65536LL - S * m);
        high = std::min(high, (terms[S] + 1) * 65536LL - S * m);
      }
      if (low >= high) continue;
      TermForm form{true, static_cast<int>(m), static_cast<int>(low)};
      for (int S = 0; S < 256; ++S) {
        if (((S * m + low) >> 16) != terms[S]) form.exact = false;
      }
      if (form.exact) return form;
    }
  }
  return {};
}

// Runs of equal table entry along the rows of the patch map, shared by every
// view: runs[rowStart[r] .. rowStart[r + 1]) cover row r, in pixels.
struct MapRuns {
  struct Run {
    int begin;
    int end;
    int entry;
  };
  std::vector<Run> runs;
  std::vector<size_t> rowStart;
};

// Into `m`, whose memory is reused.
void mapRuns(const cv::Mat& map, int entries, MapRuns& m) {
  m.runs.clear();
  m.rowStart.clear();
  m.rowStart.push_back(0);
  for (int r = 0; r < map.rows; ++r) {
    const uchar* v = map.ptr<uchar>(r);
    for (int c = 0; c < map.cols;) {
      // Sizes are at most the largest candidate, below the table length; a
      // larger one is read as the last entry rather than outside the table.
      const int entry = std::min<int>(v[c], entries - 1);
      int end = c + 1;
      while (end < map.cols && std::min<int>(v[end], entries - 1) == entry) ++end;
      m.runs.push_back({c, end, entry});
      c = end;
    }
    m.rowStart.push_back(m.runs.size());
  }
}

// Bytes [0, count) of one run by table look-up.
void blendBytesByTable(const uchar* s0, const uchar* s1, const uchar* s2, const uchar* t0,
                       const uchar* t1, const uchar* t2, uchar* out, int count) {
  for (int i = 0; i < count; ++i) {
    const int sum = t0[s0[i]] + t1[s1[i]] + t2[s2[i]];
    out[i] = static_cast<uchar>(sum > 255 ? 255 : sum);
  }
}

#if defined(__SSE2__)
// Eight terms (S x M + B) >> 16 of 16-bit samples: the high half of the
// product, plus the carry out of adding B to its low half.
inline __m128i termsOf(__m128i samples, __m128i m, __m128i b) {
  const __m128i high = _mm_mulhi_epu16(samples, m);
  const __m128i low = _mm_mullo_epi16(samples, m);
  const __m128i sum = _mm_add_epi16(low, b);
  const __m128i carry = _mm_srli_epi16(
      _mm_or_si128(_mm_and_si128(low, b), _mm_andnot_si128(sum, _mm_or_si128(low, b))), 15);
  return _mm_add_epi16(high, carry);
}
#endif

// Bytes [0, count) of one run whose three tables all have their closed
// form: sixteen bytes a step, the rest by look-up. The sum of the three terms
// saturates to a byte in the final pack, as the look-up saturates it.
void blendBytesByForm(const uchar* s0, const uchar* s1, const uchar* s2, const uchar* t0,
                      const uchar* t1, const uchar* t2, const TermForm (&forms)[kLensTypes],
                      uchar* out, int count) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i m[kLensTypes];
  __m128i b[kLensTypes];
  for (int k = 0; k < kLensTypes; ++k) {
    m[k] = _mm_set1_epi16(static_cast<short>(forms[k].multiplier));
    b[k] = _mm_set1_epi16(static_cast<short>(forms[k].offset));
  }
  const uchar* sources[kLensTypes] = {s0, s1, s2};
  for (; i + 16 <= count; i += 16) {
    __m128i low = zero;
    __m128i high = zero;
    for (int k = 0; k < kLensTypes; ++k) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sources[k] + i));
      low = _mm_add_epi16(low, termsOf(_mm_unpacklo_epi8(x, zero), m[k], b[k]));
      high = _mm_add_epi16(high, termsOf(_mm_unpackhi_epi8(x, zero), m[k], b[k]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
  }
#else
  (void)forms;
#endif
  blendBytesByTable(s0 + i, s1 + i, s2 + i, t0, t1, t2, out + i, count - i);
}

#if defined(__x86_64__)
// termsOf on sixteen 16-bit samples.
__attribute__((target("avx2"))) inline __m256i termsOf32(__m256i samples, __m256i m, __m256i b) {
  const __m256i high = _mm256_mulhi_epu16(samples, m);
  const __m256i low = _mm256_mullo_epi16(samples, m);
  const __m256i sum = _mm256_add_epi16(low, b);
  const __m256i carry = _mm256_srli_epi16(
      _mm256_or_si256(_mm256_and_si256(low, b), _mm256_andnot_si256(sum, _mm256_or_si256(low, b))),
      15);
  return _mm256_add_epi16(high, carry);
}

// blendBytesByForm in 32-byte steps; a run of 32 bytes or more ends in a
// step that overlaps the one before it, which writes those bytes again with
// the same values (`out` is no source). The unpacks and the pack work within
// each 128-bit half, so the bytes come back in their order.
__attribute__((target("avx2"))) void blendBytesByFormAvx2(const uchar* s0, const uchar* s1,
                                                          const uchar* s2, const uchar* t0,
                                                          const uchar* t1, const uchar* t2,
                                                          const TermForm (&forms)[kLensTypes],
                                                          uchar* out, int count) {
  if (count < 32) {
    blendBytesByForm(s0, s1, s2, t0, t1, t2, forms, out, count);
    return;
  }
  const __m256i zero = _mm256_setzero_si256();
  __m256i m[kLensTypes];
  __m256i b[kLensTypes];
  for (int k = 0; k < kLensTypes; ++k) {
    m[k] = _mm256_set1_epi16(static_cast<short>(forms[k].multiplier));
    b[k] = _mm256_set1_epi16(static_cast<short>(forms[k].offset));
  }
  const uchar* sources[kLensTypes] = {s0, s1, s2};
  auto step = [&](int i) __attribute__((target("avx2"))) {
    __m256i low = zero;
    __m256i high = zero;
    for (int k = 0; k < kLensTypes; ++k) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sources[k] + i));
      low = _mm256_add_epi16(low, termsOf32(_mm256_unpacklo_epi8(x, zero), m[k], b[k]));
      high = _mm256_add_epi16(high, termsOf32(_mm256_unpackhi_epi8(x, zero), m[k], b[k]));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(low, high));
  };
  int i = 0;
  for (; i + 32 <= count; i += 32) step(i);
  if (i < count) step(count - 32);
}
#endif

// One view: per pixel the three types' terms at the middle type's patch
// size, per channel. Every pixel of `target` is written.
template <int Channels>
void blendView(const cv::Mat (&sources)[kLensTypes], const MapRuns& runs, const TermTables& terms,
               const std::vector<std::array<TermForm, kLensTypes>>& forms, cv::Mat& target) {
  const uchar* tables[kLensTypes] = {terms[0].data(), terms[1].data(), terms[2].data()};
  auto byForm = blendBytesByForm;
#if defined(__x86_64__)
  if (useAvx2()) byForm = blendBytesByFormAvx2;
#endif
  for (int r = 0; r < target.rows; ++r) {
    const uchar* s0 = sources[0].ptr<uchar>(r);
    const uchar* s1 = sources[1].ptr<uchar>(r);
    const uchar* s2 = sources[2].ptr<uchar>(r);
    uchar* out = target.ptr<uchar>(r);
    for (size_t n = runs.rowStart[r]; n < runs.rowStart[r + 1]; ++n) {
      const MapRuns::Run& run = runs.runs[n];
      const int begin = run.begin * Channels;
      const int count = (run.end - run.begin) * Channels;
      const size_t row = static_cast<size_t>(run.entry) * 256;
      const std::array<TermForm, kLensTypes>& form = forms[run.entry];
      if (form[0].exact && form[1].exact && form[2].exact) {
        const TermForm three[kLensTypes] = {form[0], form[1], form[2]};
        byForm(s0 + begin, s1 + begin, s2 + begin, tables[0] + row, tables[1] + row,
               tables[2] + row, three, out + begin, count);
      } else {
        blendBytesByTable(s0 + begin, s1 + begin, s2 + begin, tables[0] + row, tables[1] + row,
                          tables[2] + row, out + begin, count);
      }
    }
  }
}

}  // namespace

struct LensTypeBlend::Tables {
  // What the term tables are made from.
  int smallest = 0;
  int largest = 0;
  int diameter = 0;
  bool colour = false;
  TermTables terms;
  std::vector<std::array<TermForm, kLensTypes>> forms;
  MapRuns runs;
};

LensTypeBlend::LensTypeBlend(const MultiViewRenderer& renderer, const FrameImages& images)
    : viewSize_(renderer.viewSize), viewType_(images.rawImage.type()) {
  const int middle = lensTypeRoles(renderer.calib).middleType;
  const std::vector<int>& candidates = renderer.candidatePatchSizes;
  const int diameter = static_cast<int>(renderer.calib.diameter);
  const bool colour = images.rawImage.channels() != 1;
  // The tables of the frame before, when nobody holds them any more and they
  // were made from the same sizes: only the runs of the new patch map are
  // made again, into the same memory (a frame's runs take megabytes).
  thread_local std::shared_ptr<Tables> kept;
  if (!kept || kept.use_count() != 1 || kept->smallest != candidates.front() ||
      kept->largest != candidates.back() || kept->diameter != diameter || kept->colour != colour) {
    const LensTypeWeights w = lensTypeWeights(candidates.front(), candidates.back(), diameter);
    const int entries = static_cast<int>(w[0].size());
    CV_Assert(entries > 0);
    auto tables = std::make_shared<Tables>();
    tables->smallest = candidates.front();
    tables->largest = candidates.back();
    tables->diameter = diameter;
    tables->colour = colour;
    tables->terms = termTables(w, colour);
    tables->forms.resize(entries);
    for (int v = 0; v < entries; ++v) {
      for (int k = 0; k < kLensTypes; ++k) {
        tables->forms[v][k] = termForm(tables->terms[k].data() + v * 256, w[k][v]);
      }
    }
    kept = std::move(tables);
  }
  // One map, the middle type's, chooses the weights for every view and type,
  // read at the view's own pixel coordinates.
  const cv::Mat& map = images.patchMap[middle];
  CV_Assert(map.size() == viewSize_ && map.type() == CV_8UC1);
  mapRuns(map, static_cast<int>(kept->forms.size()), kept->runs);
  tables_ = kept;
}

void LensTypeBlend::blend(const cv::Mat (&sources)[kLensTypes], cv::Mat& target) const {
  for (int k = 0; k < kLensTypes; ++k) {
    CV_Assert(sources[k].size() == viewSize_ && sources[k].type() == viewType_);
  }
  // The blend writes every pixel, so the view needs no clearing first.
  target.create(viewSize_, viewType_);
  if (target.channels() == 1) {
    blendView<1>(sources, tables_->runs, tables_->terms, tables_->forms, target);
  } else {
    blendView<3>(sources, tables_->runs, tables_->terms, tables_->forms, target);
  }
}

void MultiViewRenderer::blendLensTypes(const FrameImages& images, ViewGrid& viewGrid) const {
  viewGrid.resize(viewNum);
  for (std::vector<cv::Mat>& column : viewGrid) column.resize(viewNum);
  const LensTypeBlend blend(*this, images);
  // Views are independent: one per work item. The images are made on this
  // thread.
  for (std::vector<cv::Mat>& column : viewGrid) {
    for (cv::Mat& view : column) view.create(viewSize, images.rawImage.type());
  }
  const ViewGrid(&views)[kLensTypes] = images.multiViewImage;
  parallelForEach(viewNum * viewNum, [&](int item) {
    const int x = item / viewNum;
    const int y = item % viewNum;
    const cv::Mat sources[kLensTypes] = {views[0][x][y], views[1][x][y], views[2][x][y]};
    blend.blend(sources, viewGrid[x][y]);
  });
}

}  // namespace plenoview
