#pragma once

#include <opencv2/core.hpp>

namespace plenoview {

// One row of the patch merge at weight 0.5, byte by byte: where `inside` is
// non-zero an empty (0) target byte takes the patch byte and any other the
// truncated mean trunc(0.5 x patch + 0.5 x target). That mean is exact in
// double, so it equals floor((patch + target) / 2), computed here without
// leaving 8 bits so that the loop vectorises.
inline void mergeHalfRow(const uchar* patch, uchar* target, const uchar* inside,
                         int count) {
  for (int i = 0; i < count; ++i) {
    const uchar t = target[i];
    const uchar p = patch[i];
    const uchar mean = static_cast<uchar>((t >> 1) + (p >> 1) + (t & p & 1));
    const uchar merged = t == 0 ? p : mean;
    target[i] = inside[i] ? merged : t;
  }
}

// The same with one patch value for every byte.
inline void mergeHalfRowConstant(uchar value, uchar* target,
                                 const uchar* inside, int count) {
  for (int i = 0; i < count; ++i) {
    const uchar t = target[i];
    const uchar mean =
        static_cast<uchar>((t >> 1) + (value >> 1) + (t & value & 1));
    const uchar merged = t == 0 ? value : mean;
    target[i] = inside[i] ? merged : t;
  }
}

// Per byte of an image with `channels` channels of `mask`'s size: 255 where
// the mask is exactly 255 (the pixels the merge writes), 0 elsewhere.
inline cv::Mat mergeBytes(const cv::Mat& mask, int channels) {
  cv::Mat bytes(mask.rows, mask.cols * channels, CV_8UC1);
  for (int r = 0; r < mask.rows; ++r) {
    const uchar* m = mask.ptr<uchar>(r);
    uchar* b = bytes.ptr<uchar>(r);
    for (int x = 0; x < mask.cols; ++x) {
      for (int c = 0; c < channels; ++c)
        b[x * channels + c] = m[x] == 255 ? 255 : 0;
    }
  }
  return bytes;
}

}  // namespace plenoview
