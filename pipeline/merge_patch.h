#pragma once

#include <opencv2/core.hpp>

namespace plenoview {

// Merges an 8-bit patch (1 or 3 channels; others are ignored) into `target`
// (same size and channels) where `mask` is exactly 255: an empty (0) target
// sample takes the patch value, any other becomes
// trunc((1 - alpha) x patch + alpha x target). Channels are merged one by one.
// A target of another type, or a target or mask smaller than the patch, is
// left unchanged.
void mergePatch(const cv::Mat& patch, cv::Mat& target, const cv::Mat& mask, double alpha);

}  // namespace plenoview
