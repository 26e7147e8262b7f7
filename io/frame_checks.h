#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace plenoview {

// Frame size limits. A plenoptic sensor has some tens of megapixels; 2^28
// pixels (268 megapixels) is ten times that, and a 16-bit four-channel
// frame of that size still decodes into 2 GiB. Per side, 65535 is the
// largest JPEG; together with the lens diameter limit it keeps every scaled
// copy of the frame within int range.
constexpr int kMaxFrameSide = 65535;
constexpr long long kMaxFramePixels = 1LL << 28;

// Before decoding frame `index` from `path`: throws PlenoviewError naming both
// when the path is not a regular file, or when inspectFrameFile finds an
// unsupported format, damage, or a size of zero or beyond the limits above.
// A missing file is left to the reader.
void checkFrameFile(const std::string& path, int index);

// After decoding: throws PlenoviewError naming the frame when its size is
// beyond the limits (formats whose header is not read here) or, when
// `firstSize` is not empty, differs from it: the calibration's grid was
// placed on the first frame's size.
void checkFrameImage(const cv::Mat& frame, const std::string& path, int index, cv::Size firstSize);

// checkFrameImage for a frame of `size`, before its pixels are at hand.
void checkFrameImageSize(cv::Size size, const std::string& path, int index, cv::Size firstSize);

}  // namespace plenoview
