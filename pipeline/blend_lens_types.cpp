#include "pipeline/blend_lens_types.h"

#include "calibration/lens_type_roles.h"
#include "renderer/multi_view_renderer.h"

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

// Grey: every term truncated toward zero. The weights sum to one, so the
// three terms never exceed 255; the saturation only guards the invariant.
void blendGrey(const cv::Mat (&sources)[3], const cv::Mat& map, const LensTypeWeights& w,
               cv::Mat& target) {
  for (int r = 0; r < target.rows; ++r) {
    const uchar* v = map.ptr<uchar>(r);
    uchar* out = target.ptr<uchar>(r);
    for (int c = 0; c < target.cols; ++c) {
      int sum = out[c];
      for (int k = 0; k < 3; ++k) {
        sum += static_cast<int>(sources[k].ptr<uchar>(r)[c] * w[k][v[c]]);
      }
      out[c] = cv::saturate_cast<uchar>(sum);
    }
  }
}

// Colour: every term rounded (ties to even) and clamped to a byte, then added
// with saturation; the rounding can carry a sum past 255.
void blendColour(const cv::Mat (&sources)[3], const cv::Mat& map,
                 const LensTypeWeights& w, cv::Mat& target) {
  for (int r = 0; r < target.rows; ++r) {
    const uchar* v = map.ptr<uchar>(r);
    cv::Vec3b* out = target.ptr<cv::Vec3b>(r);
    for (int c = 0; c < target.cols; ++c) {
      for (int k = 0; k < 3; ++k) {
        const cv::Vec3b& in = sources[k].ptr<cv::Vec3b>(r)[c];
        for (int ch = 0; ch < 3; ++ch) {
          const uchar term = cv::saturate_cast<uchar>(in[ch] * w[k][v[c]]);
          out[c][ch] = cv::saturate_cast<uchar>(out[c][ch] + term);
        }
      }
    }
  }
}

}  // namespace

void MultiViewRenderer::blendLensTypes(ViewGrid& viewGrid) {
  const int middle = lensTypeRoles(calib).middleType;

  viewGrid.resize(viewNum);
  for (std::vector<cv::Mat>& column : viewGrid) {
    column.resize(viewNum);
    for (cv::Mat& view : column) view = cv::Mat::zeros(viewSize, rawImage.type());
  }

  const LensTypeWeights w = lensTypeWeights(
      candidatePatchSizes.front(), candidatePatchSizes.back(), static_cast<int>(calib.diameter));

  // One map, the middle type's, chooses the weights for every view and type,
  // read at the view's own pixel coordinates. Its values are patch sizes, at
  // most the largest candidate, which is below the table length.
  const cv::Mat& map = patchMap[middle];
  CV_Assert(map.size() == viewSize && map.type() == CV_8UC1);
  for (int x = 0; x < viewNum; ++x) {
    for (int y = 0; y < viewNum; ++y) {
      const cv::Mat sources[3] = {multiViewImage[0][x][y], multiViewImage[1][x][y],
                                  multiViewImage[2][x][y]};
      for (const cv::Mat& source : sources) {
        CV_Assert(source.size() == viewSize && source.type() == rawImage.type());
      }
      if (rawImage.channels() == 1) {
        blendGrey(sources, map, w, viewGrid[x][y]);
      } else {
        blendColour(sources, map, w, viewGrid[x][y]);
      }
    }
  }
}

}  // namespace plenoview
