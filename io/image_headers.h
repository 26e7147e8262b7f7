#pragma once

#include <opencv2/core.hpp>

#include <istream>
#include <string>

namespace plenoview {

// What the image formats plenoview reads say about themselves before they are
// decoded. All knowledge of their byte layout lives here.

// What a frame file says about itself before it is decoded.
struct FrameFileInfo {
  std::string format;        // "PNG", "JPEG", "TIFF", "BMP", "PNM"; empty when not
                             // recognised or when the header gives no size
  cv::Size size{0, 0};       // from the header; (0, 0) when not known
  std::string damage;        // why the file is incomplete or corrupt; empty when sound
  bool unsupported = false;  // a format plenoview refuses to decode (DICOM)
};

// Reads the header of a PNG, JPEG, TIFF, BMP or PNM stream for its size. A
// PNG is walked chunk by chunk to IEND with every CRC checked, and a JPEG
// segment by segment to its end-of-image marker, so that a truncated or
// damaged file is found here rather than half-decoded. A DICOM file is
// marked unsupported: its decoder aborts the process on damaged input. Other
// formats are left to the decoder (format empty).
FrameFileInfo inspectFrameFile(std::istream& in);

// True when `path` is a regular file that starts with the PNG signature and
// ends with the PNG end chunk (IEND). This reads 20 bytes, not the chunks in
// between: it tells a file that was written to its end from one cut short,
// which is what a rerun needs to know of its own output.
bool isWholePng(const std::string& path);

// What a PNG file says at its two ends, read without decoding it or walking
// the chunks in between (45 bytes): whether it starts with the signature and
// a sound IHDR chunk (CRC and values checked), with its size, bit depth and
// colour type, and whether it ends with the end chunk (IEND). Tells a view
// file cut short, or one of another kind, before any is decoded.
struct PngEnds {
  bool png = false;    // the signature and a sound IHDR chunk
  bool whole = false;  // and the end chunk at the end
  cv::Size size{0, 0};
  int bitDepth = 0;
  int colourType = -1;  // 0 grey, 2 colour, 3 palette, 4 grey + alpha, 6 colour + alpha
};
PngEnds inspectPngEnds(const std::string& path);

}  // namespace plenoview
