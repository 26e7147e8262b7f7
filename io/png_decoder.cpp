#include "io/png_decoder.h"

#include "io/png_format.h"
#include "io/png_row_unfilters.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <isa-l/igzip_lib.h>
#include <memory>

namespace plenoview {

namespace {

// Filtered rows are inflated into a block of about this many bytes and
// unfiltered from there while they are still in the cache.
constexpr size_t kBlockBytes = size_t{1} << 17;

// libpng refuses wider or taller images by default, OpenCV larger ones.
constexpr uint32_t kMostPixelsASide = 1000000;
constexpr uint64_t kMostPixels = uint64_t{1} << 30;

bool isType(const uchar* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Chunks of text, time and pixel size: OpenCV's pixels are the same with or
// without them.
bool leavesPixelsAlone(const uchar* type) {
  return isType(type, "tEXt") || isType(type, "zTXt") || isType(type, "iTXt") ||
         isType(type, "tIME") || isType(type, "pHYs");
}

struct Span {
  const uchar* data;
  uint32_t size;
};

struct Layout {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<Span> data;  // the IDAT chunks' data, in order
};

bool readHeader(const uchar* header, Layout& layout) {
  const uint32_t width = readBigEndian32(header);
  const uint32_t height = readBigEndian32(header + 4);
  if (width == 0 || height == 0 || width > kMostPixelsASide || height > kMostPixelsASide ||
      uint64_t{width} * height > kMostPixels) {
    return false;
  }
  // Bit depth 8; colour type grey or RGB; deflate, adaptive filtering, no interlace.
  if (header[8] != 8 || (header[9] != 0 && header[9] != 2) || header[10] != 0 || header[11] != 0 ||
      header[12] != 0) {
    return false;
  }
  layout.width = static_cast<int>(width);
  layout.height = static_cast<int>(height);
  layout.channels = header[9] == 2 ? 3 : 1;
  return true;
}

// Walks the chunks of a plain file, checking each one's CRC, and gathers the
// image data; false for anything not plain.
bool readLayout(const std::vector<uchar>& bytes, Layout& layout) {
  const size_t size = bytes.size();
  if (size < 8 || !std::equal(kPngSignature, kPngSignature + 8, bytes.begin())) return false;
  enum { kBeforeData, kInData, kAfterData } place = kBeforeData;
  size_t at = 8;
  for (bool first = true;; first = false) {
    if (size - at < 12) return false;
    const uint32_t length = readBigEndian32(&bytes[at]);
    if (length > 0x7fffffffu || length > size - at - 12) return false;
    const uchar* type = &bytes[at + 4];
    const uchar* data = type + 4;
    if (pngChunkCrc(type, 4 + size_t{length}) != readBigEndian32(data + length)) return false;
    at += 12 + size_t{length};
    if (first != isType(type, "IHDR")) return false;
    if (first) {
      if (length != 13 || !readHeader(data, layout)) return false;
    } else if (isType(type, "IDAT")) {
      if (place == kAfterData) return false;
      place = kInData;
      layout.data.push_back({data, length});
    } else if (isType(type, "IEND")) {
      return length == 0 && place != kBeforeData && at == size;
    } else if (leavesPixelsAlone(type)) {
      if (place == kInData) place = kAfterData;
    } else {
      return false;
    }
  }
}

// The zlib header, in the first two bytes of the stream: deflate, no preset
// dictionary, its check right, and a window no smaller than the image's
// data unless it is the largest. zlib refuses distances beyond the window
// the header names; ISA-L may not, so the two agree only when no distance
// can reach past it.
bool plainZlibHeader(const Span& first, size_t dataBytes) {
  if (first.size < 2) return false;
  const unsigned method = first.data[0];
  const unsigned flags = first.data[1];
  const unsigned windowBits = (method >> 4) + 8;
  return (method & 0x0f) == 8 && windowBits <= 15 && (method * 256 + flags) % 31 == 0 &&
         (flags & 0x20) == 0 && (windowBits == 15 || dataBytes <= size_t{1} << windowBits);
}

// The inflate state and the block of filtered rows, kept per thread.
struct Scratch {
  inflate_state state;
  std::vector<uchar> lines;
};

Scratch& threadScratch() {
  thread_local std::unique_ptr<Scratch> scratch;
  if (!scratch) scratch = std::make_unique<Scratch>();
  return *scratch;
}

}  // namespace

bool decodePlainPng(const std::vector<uchar>& bytes, cv::Mat& out) {
  // OpenCV's limits can be changed through its environment; then its own
  // decoder decides, with the limits as set.
  static const bool limitsChanged = std::getenv("OPENCV_IO_MAX_IMAGE_WIDTH") ||
                                    std::getenv("OPENCV_IO_MAX_IMAGE_HEIGHT") ||
                                    std::getenv("OPENCV_IO_MAX_IMAGE_PIXELS");
  if (limitsChanged) return false;
  Layout layout;
  if (!readLayout(bytes, layout)) return false;
  const int height = layout.height;
  const int channels = layout.channels;
  const size_t lineBytes = size_t{1} + static_cast<size_t>(layout.width) * channels;
  if (!plainZlibHeader(layout.data[0], lineBytes * height)) return false;

  Scratch& scratch = threadScratch();
  const int rowsPerBlock =
      static_cast<int>(std::max<size_t>(1, std::min<size_t>(kBlockBytes / lineBytes, height)));
  scratch.lines.resize(rowsPerBlock * lineBytes);
  inflate_state& state = scratch.state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_ZLIB;
  size_t span = 0;
  state.next_in = const_cast<uchar*>(layout.data[0].data);
  state.avail_in = layout.data[0].size;

  // Inflates until the output room is full or the stream ends; false for
  // damaged or missing data.
  const auto inflate = [&]() {
    for (;;) {
      if (isal_inflate(&state) != ISAL_DECOMP_OK) return false;
      if (state.avail_out == 0 || state.block_state == ISAL_BLOCK_FINISH) return true;
      if (state.avail_in != 0 || ++span == layout.data.size()) return false;
      state.next_in = const_cast<uchar*>(layout.data[span].data);
      state.avail_in = layout.data[span].size;
    }
  };

  out.create(height, layout.width, CV_8UC(channels));
  for (int first = 0; first < height; first += rowsPerBlock) {
    const int rows = std::min(rowsPerBlock, height - first);
    state.next_out = scratch.lines.data();
    state.avail_out = static_cast<uint32_t>(rows * lineBytes);
    if (!inflate() || state.avail_out != 0) return false;
    uchar* line = scratch.lines.data();
    for (int y = first; y < first + rows; ++y, line += lineBytes) {
      if (!unfilterRow(line, y > 0 ? out.ptr<uchar>(y - 1) : nullptr, layout.width, channels,
                       out.ptr<uchar>(y))) {
        return false;
      }
    }
  }
  // The rest of the stream: its end and checksum, and not one byte more.
  if (state.block_state != ISAL_BLOCK_FINISH) {
    state.next_out = scratch.lines.data();
    state.avail_out = static_cast<uint32_t>(scratch.lines.size());
    if (!inflate() || state.avail_out != scratch.lines.size() ||
        state.block_state != ISAL_BLOCK_FINISH) {
      return false;
    }
  }
  if (state.avail_in != 0) return false;
  for (++span; span < layout.data.size(); ++span) {
    if (layout.data[span].size != 0) return false;
  }
  return true;
}

}  // namespace plenoview
