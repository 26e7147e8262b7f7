#include "pipeline/blend_lens_types.h"

#include "calibration/lens_type_roles.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/parallel_work.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace plenoview {

LensTypeWeights lensTypeWeights(int first, int last, int entries) {
  const double half = (last - first) * 0.5;
  const double sigma = half * 0.5;
  LensTypeWeights w;
  for (int k = 0; k < 3; ++k) {
    const double mean = first + k * half;
    w[k].resize(entries);
    for (int l = 0; l < entries; ++l) {
      const double d = l - mean;
      w[k][l] = std::exp(d * d / (-2 * sigma * sigma)) * 1 / (std::sqrt(6.2831853) * sigma);
    }
  }
  for (int l = 0; l < entries; ++l) {
    const double s = w[1][l] + w[0][l] + w[2][l];
    for (int k = 0; k < 3; ++k) w[k][l] = w[k][l] / s;
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
using TermTables = std::array<std::vector<uchar>, 3>;

TermTables termTables(const LensTypeWeights& w, bool colour) {
  TermTables terms;
  for (int k = 0; k < 3; ++k) {
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

// One view: per pixel the three types' terms at the middle type's patch
// size, per channel. Every pixel of `target` is written.
template <int Channels>
void blendView(const cv::Mat (&sources)[3], const cv::Mat& map, const TermTables& terms,
               int entries, cv::Mat& target) {
  for (int r = 0; r < target.rows; ++r) {
    const uchar* v = map.ptr<uchar>(r);
    const uchar* s0 = sources[0].ptr<uchar>(r);
    const uchar* s1 = sources[1].ptr<uchar>(r);
    const uchar* s2 = sources[2].ptr<uchar>(r);
    uchar* out = target.ptr<uchar>(r);
    for (int c = 0; c < target.cols; ++c) {
      // Sizes are at most the largest candidate, below the table length; a
      // larger one is read as the last entry rather than outside the table.
      const size_t row = static_cast<size_t>(std::min<int>(v[c], entries - 1)) * 256;
      const uchar* t0 = terms[0].data() + row;
      const uchar* t1 = terms[1].data() + row;
      const uchar* t2 = terms[2].data() + row;
      for (int ch = 0; ch < Channels; ++ch) {
        const int i = c * Channels + ch;
        const int sum = t0[s0[i]] + t1[s1[i]] + t2[s2[i]];
        out[i] = static_cast<uchar>(sum > 255 ? 255 : sum);
      }
    }
  }
}

}  // namespace

void MultiViewRenderer::blendLensTypes(ViewGrid& viewGrid) {
  const int middle = lensTypeRoles(calib).middleType;

  viewGrid.resize(viewNum);
  for (std::vector<cv::Mat>& column : viewGrid) column.resize(viewNum);

  const LensTypeWeights w = lensTypeWeights(candidatePatchSizes.front(), candidatePatchSizes.back(),
                                            static_cast<int>(calib.diameter));
  const int entries = static_cast<int>(w[0].size());
  CV_Assert(entries > 0);
  const TermTables terms = termTables(w, rawImage.channels() != 1);

  // One map, the middle type's, chooses the weights for every view and type,
  // read at the view's own pixel coordinates.
  const cv::Mat& map = patchMap[middle];
  CV_Assert(map.size() == viewSize && map.type() == CV_8UC1);
  for (int x = 0; x < viewNum; ++x) {
    for (int y = 0; y < viewNum; ++y) {
      for (int k = 0; k < 3; ++k) {
        const cv::Mat& source = multiViewImage[k][x][y];
        CV_Assert(source.size() == viewSize && source.type() == rawImage.type());
      }
    }
  }
  // Views are independent: one per work item. The blend writes every pixel,
  // so a view needs no clearing first. The images are made on this thread.
  for (std::vector<cv::Mat>& column : viewGrid) {
    for (cv::Mat& view : column) view.create(viewSize, rawImage.type());
  }
  parallelForEach(viewNum * viewNum, [&](int item) {
    const int x = item / viewNum;
    const int y = item % viewNum;
    const cv::Mat sources[3] = {multiViewImage[0][x][y], multiViewImage[1][x][y],
                                multiViewImage[2][x][y]};
    cv::Mat& view = viewGrid[x][y];
    if (view.channels() == 1) {
      blendView<1>(sources, map, terms, entries, view);
    } else {
      blendView<3>(sources, map, terms, entries, view);
    }
  });
}

}  // namespace plenoview
