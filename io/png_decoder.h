#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// Decodes the plain PNG files that make up nearly all frames, faster than
// cv::imdecode (ISA-L's inflate; the common row filters in SSE2), and gives
// exactly its pixels: CV_8UC1 for grey, CV_8UC3 in B, G, R order for RGB.
//
// Plain is: 8 bits a sample, grey or RGB, not interlaced; one run of IDAT
// chunks holding one zlib stream of exactly the image's filtered rows, its
// Adler-32 right and nothing after it; IEND last, at the end of `bytes`;
// besides those only tEXt, zTXt, iTXt, tIME and pHYs chunks, which leave the
// pixels alone; every chunk's CRC right; at most 1,000,000 pixels a side and
// 2^30 in all. Anything else returns false, and so does a file that turns out
// damaged while its pixels are decoded: the caller then asks cv::imdecode,
// whose result and messages for such files stay what they were.
//
// `out` is created (out.create) with the image's size and type, so memory
// already of that size is reused; on false it holds nothing of use.
// Thread-safe: the inflate state and row scratch are kept per thread.
bool decodePlainPng(const std::vector<uchar>& bytes, cv::Mat& out);

}  // namespace plenoview
