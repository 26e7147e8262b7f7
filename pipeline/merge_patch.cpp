#include "pipeline/merge_patch.h"

#include "renderer/half_merge.h"

#include <algorithm>
#include <vector>

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
        // Truncated toward zero; a weight outside [0, 1] saturates instead of
        // wrapping.
        if (out == 0) {
          out = in;
        } else if (alpha == 0.5) {
          // 0.5 x in + 0.5 x out is exact in double: the truncated mean.
          out = static_cast<uchar>((in + out) >> 1);
        } else {
          out = static_cast<uchar>(std::clamp((1.0 - alpha) * in + alpha * out, 0.0, 255.0));
        }
      }
    }
  }
}

// The same at weight 0.5, a row at a time in 16-byte steps: the mask's row
// is spread over the channels first, so that every byte says whether the
// merge writes it.
template <int Channels>
void mergeChannelsHalf(const cv::Mat& patch, cv::Mat& target, const cv::Mat& mask) {
  const int bytes = patch.cols * Channels;
  thread_local std::vector<uchar> inside;
  inside.resize(bytes);
  for (int r = 0; r < patch.rows; ++r) {
    const uchar* m = mask.ptr<uchar>(r);
    for (int x = 0; x < patch.cols; ++x) {
      for (int c = 0; c < Channels; ++c) inside[x * Channels + c] = m[x] == 255 ? 255 : 0;
    }
    mergeHalfRow(patch.ptr<uchar>(r), target.ptr<uchar>(r), inside.data(), bytes);
  }
}

}  // namespace

void mergePatch(const cv::Mat& patch, cv::Mat& target, const cv::Mat& mask, double alpha) {
  // Anything that would read or write outside the three images is left alone.
  const bool fits = patch.depth() == CV_8U && target.type() == patch.type() &&
                    mask.type() == CV_8UC1 && target.cols >= patch.cols &&
                    target.rows >= patch.rows && mask.cols >= patch.cols && mask.rows >= patch.rows;
  if (!fits) return;
  if (alpha == 0.5 && patch.channels() == 1) {
    mergeChannelsHalf<1>(patch, target, mask);
  } else if (alpha == 0.5 && patch.channels() == 3) {
    mergeChannelsHalf<3>(patch, target, mask);
  } else if (patch.channels() == 1) {
    mergeChannels<1>(patch, target, mask, alpha);
  } else if (patch.channels() == 3) {
    mergeChannels<3>(patch, target, mask, alpha);
  }
}

}  // namespace plenoview
