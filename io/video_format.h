#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace plenoview {

// The picture format of a lenslet video: planar YUV 4:2:0 (the Y plane, then
// U, then V, each chroma plane at half width and height) or Y alone, with 8
// bits a sample or 10 bits held in two bytes, little-endian.
struct VideoFormat {
  cv::Size size{0, 0};
  int bitDepth = 8;   // 8 or 10
  bool mono = false;  // Y plane only

  // Bytes of one frame's planes: W x H x 3/2 samples (W x H for mono), one
  // or two bytes each. Expects a size that passed checkVideoSize.
  long long frameBytes() const;

  // "3840 x 2160, 8-bit 4:2:0" or "640 x 480, 10-bit grey", for messages.
  std::string describe() const;
};

// What the command line says about a raw video, which carries no header.
struct RawVideoOptions {
  std::string sizeText;     // --size WxH; empty: from the file name
  std::string pixelFormat;  // --pixel-format yuv420p | yuv420p10le; empty: 10-bit when the
                            // name says "10bit", 8-bit otherwise
};

// The frame size a video's file name carries, as the standard sequences are
// named: "<W>x<H>" between an underscore and an underscore or a dot, in the
// file's own name (not its folder), e.g. "Seq_3840x2160_300frames.yuv" or
// "Seq_3840x2160.yuv". Empty when the name has none. Throws PlenoviewError
// when it names two different sizes, since either could be meant. The
// numbers are not checked against any limit here.
std::optional<cv::Size> sizeFromFileName(const std::string& path);

// Parses "<W>x<H>" (whole decimal numbers, nothing else) as given to --size.
// Throws PlenoviewError naming `what` and the text when it is malformed; the
// numbers are not checked against any limit here.
cv::Size parseSizeText(const std::string& text, const std::string& what);

// True when the file's own name says "10bit" (any case): such a raw video
// holds two bytes a sample.
bool tenBitByName(const std::string& path);

// Refuses, before anything is allocated from it, a size of zero, one beyond
// the frame limits of io/frame_checks.h, or (for 4:2:0) an odd width or
// height, whose chroma planes would not be half the picture. The message
// starts with `source` ("\"seq.yuv\"", "standard input").
void checkVideoSize(cv::Size size, bool mono, const std::string& source);

// Fills an 8-bit plane buffer from 10-bit samples (two bytes each,
// little-endian): v >> 2, as 16-bit image frames keep their high byte. A
// sample beyond 10 bits (which a sound stream never holds) saturates at 255
// instead of wrapping. `count` samples are read from `in` (2 x count bytes).
void reduceTenBitSamples(const unsigned char* in, unsigned char* out, long long count);

}  // namespace plenoview
