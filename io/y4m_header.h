#pragma once

#include "io/video_format.h"

#include <cstddef>
#include <string>

namespace plenoview {

// The longest stream header or frame marker line read, '\n' included. Real
// headers take under a hundred bytes; the limit keeps a stream that is not
// Y4M (or a hostile one) from being read into memory in search of a line end.
constexpr std::size_t kMaxY4mLineLength = 4096;

// The stream header of a YUV4MPEG2 (Y4M) video.
struct Y4mHeader {
  VideoFormat format;
  std::string chroma = "420jpeg";  // the C field as given; 420jpeg when absent
};

// Parses a Y4M stream header line, without its '\n': "YUV4MPEG2" and then
// fields, each a tag letter and a value, separated by blanks:
//
//   W<width> H<height>   required, whole decimal numbers
//   F<num>:<den>         frame rate      A<num>:<den>   pixel aspect
//   I<p|t|b|m|?>         interlacing     X<anything>    extension, ignored
//   C<chroma>            420jpeg, 420paldv, 420mpeg2, 420 (8-bit 4:2:0, the
//                        sitings differ only), 420p10 (10-bit 4:2:0), mono
//                        (8-bit grey); 420jpeg when absent
//
// The frames are read as the raw planes of that format. Throws PlenoviewError
// "<source>: Y4M header: ..." naming the field for a missing signature, a
// missing or malformed W or H, a malformed F, A or I, a field given twice,
// an unknown tag, any other chroma format, and a size that checkVideoSize
// refuses. Nothing is allocated from the values.
Y4mHeader parseY4mHeader(const std::string& line, const std::string& source);

// True for a frame marker line, without its '\n': "FRAME", alone or followed
// by a blank and parameters (which are ignored).
bool isY4mFrameMarker(const std::string& line);

}  // namespace plenoview
