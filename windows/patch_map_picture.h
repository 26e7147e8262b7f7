#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// The grey picture of a patch map that the inspection shows: per pixel
// 255 - 255 x size / S with S the largest of `candidatePatchSizes`, rounded
// to nearest (ties to even) and saturated, so the largest size is black and
// an empty pixel (0) white; without candidates every pixel is white. An
// empty map gives an empty picture.
cv::Mat patchMapPicture(const cv::Mat& patchMap, const std::vector<int>& candidatePatchSizes);

}  // namespace plenoview
