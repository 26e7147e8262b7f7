#include "renderer/multi_view_renderer.h"

namespace plenoview {

namespace {

template <int Channels>
void mergeChannels(const cv::Mat& patch, cv::Mat& target, const cv::Mat& mask, double alpha) {
  for (int c = 0; c < Channels; ++c) {
    for (int r = 0; r < patch.rows; ++r) {
      const uchar* p = patch.ptr<uchar>(r);
      const uchar* m = mask.ptr<uchar>(r);
      uchar* t = target.ptr<uchar>(r);
      for (int x = 0; x < patch.cols; ++x) {
        if (m[x] != 255) continue;
        uchar& out = t[x * Channels + c];
        const uchar in = p[x * Channels + c];
        // 0 marks an empty sample: take the patch whole instead of averaging.
        out = out == 0 ? in : static_cast<uchar>((1.0 - alpha) * in + alpha * out);
      }
    }
  }
}

}  // namespace

void mergePatch(const cv::Mat& patch, cv::Mat& target, const cv::Mat& mask, double alpha) {
  if (patch.channels() == 1) {
    mergeChannels<1>(patch, target, mask, alpha);
  } else if (patch.channels() == 3) {
    mergeChannels<3>(patch, target, mask, alpha);
  }
}

}  // namespace plenoview
