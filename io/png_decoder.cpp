#include "io/png_decoder.h"

#include "io/png_row_filters.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <memory>

namespace plenoview {

namespace {

const uchar kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Filtered rows are inflated into a block of about this many bytes and
// unfiltered from there while they are still in the cache.
constexpr size_t kBlockBytes = size_t{1} << 17;

// libpng refuses wider or taller images by default, OpenCV larger ones.
constexpr uint32_t kMostPixelsASide = 1000000;
constexpr uint64_t kMostPixels = uint64_t{1} << 30;

uint32_t bigEndian(const uchar* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

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
  const uint32_t width = bigEndian(header);
  const uint32_t height = bigEndian(header + 4);
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
  if (size < 8 || !std::equal(kSignature, kSignature + 8, bytes.begin())) return false;
  enum { kBeforeData, kInData, kAfterData } place = kBeforeData;
  size_t at = 8;
  for (bool first = true;; first = false) {
    if (size - at < 12) return false;
    const uint32_t length = bigEndian(&bytes[at]);
    if (length > 0x7fffffffu || length > size - at - 12) return false;
    const uchar* type = &bytes[at + 4];
    const uchar* data = type + 4;
    if (crc32_gzip_refl(0, type, 4 + size_t{length}) != bigEndian(data + length)) return false;
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

// The row filters undone in the file's byte order (any, for grey), one byte
// after the other; `above` is nullptr on the first row, whose row above
// counts as 0.
void unfilterInOrder(int type, const uchar* in, const uchar* above, int bytes, int channels,
                     uchar* out) {
  const int lead = std::min(channels, bytes);
  if (above == nullptr) {
    if (type == 2) type = 0;  // Up from nothing
    if (type == 4) type = 1;  // Paeth with b = c = 0 predicts a
  }
  switch (type) {
    case 0:
      std::memcpy(out, in, bytes);
      break;
    case 1:
      std::memcpy(out, in, lead);
      for (int i = channels; i < bytes; ++i) out[i] = static_cast<uchar>(in[i] + out[i - channels]);
      break;
    case 2:
      for (int i = 0; i < bytes; ++i) out[i] = static_cast<uchar>(in[i] + above[i]);
      break;
    case 3:
      for (int i = 0; i < lead; ++i) {
        out[i] = static_cast<uchar>(in[i] + ((above ? above[i] : 0) >> 1));
      }
      for (int i = channels; i < bytes; ++i) {
        out[i] = static_cast<uchar>(in[i] + ((out[i - channels] + (above ? above[i] : 0)) >> 1));
      }
      break;
    default:
      for (int i = 0; i < lead; ++i) out[i] = static_cast<uchar>(in[i] + above[i]);
      for (int i = channels; i < bytes; ++i) {
        const int a = out[i - channels];
        const int b = above[i];
        const int c = above[i - channels];
        const int pa = std::abs(b - c);
        const int pb = std::abs(a - c);
        const int pc = std::abs(a + b - 2 * c);
        const int nearerOfAB = pb < pa ? b : a;
        out[i] = static_cast<uchar>(in[i] + (pc < std::min(pa, pb) ? c : nearerOfAB));
      }
      break;
  }
}

// Sub on R, G, B pixels, written B, G, R: three running sums.
void unfilterSubSwapped(const uchar* in, int pixels, uchar* out) {
  uchar blue = 0, green = 0, red = 0;
  for (int i = 0; i < 3 * pixels; i += 3) {
    red = static_cast<uchar>(red + in[i]);
    green = static_cast<uchar>(green + in[i + 1]);
    blue = static_cast<uchar>(blue + in[i + 2]);
    out[i] = blue;
    out[i + 1] = green;
    out[i + 2] = red;
  }
}

// A pixel's 3 bytes in the low 16-bit lanes; 4 bytes are read unless it is
// the last of its row (the fourth lane is then never used). The sizes are
// constants so that each copy is one move.
__m128i loadPixel(const uchar* at, bool last) {
  uint32_t value = 0;
  if (last) {
    std::memcpy(&value, at, 3);
  } else {
    std::memcpy(&value, at, 4);
  }
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(value)), _mm_setzero_si128());
}

// Stores the low 3 lanes as bytes; a fourth byte, overwritten by the next
// pixel, unless this is the last.
void storePixel(__m128i pixel, uchar* at, bool last) {
  const uint32_t value = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(pixel, pixel)));
  if (last) {
    std::memcpy(at, &value, 3);
  } else {
    std::memcpy(at, &value, 4);
  }
}

__m128i absolute(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

__m128i choose(__m128i mask, __m128i ifSet, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, otherwise));
}

// Average or Paeth on R, G, B pixels under a B, G, R row, written B, G, R:
// one pixel a step, its samples in 16-bit lanes. The left pixel a is the
// only dependence from step to step, so what needs only the row above and
// the file (the differences, swapped) stays off that path.
// predict(a, b, c) gives the prediction from the left, above and above-left
// pixels.
template <typename Predict>
void unfilterPixelsSwapped(const uchar* in, const uchar* above, int pixels, uchar* out,
                           Predict predict) {
  const __m128i lowBytes = _mm_set1_epi16(0xff);
  __m128i a = _mm_setzero_si128();
  __m128i c = _mm_setzero_si128();
  for (int p = 0; p < pixels; ++p) {
    const int i = 3 * p;
    const bool last = p + 1 == pixels;
    const __m128i b = loadPixel(above + i, last);
    const __m128i difference = _mm_shufflelo_epi16(loadPixel(in + i, last), 0xc6);
    a = _mm_and_si128(_mm_add_epi16(predict(a, b, c), difference), lowBytes);
    c = b;
    storePixel(a, out + i, last);
  }
}

__m128i average(__m128i a, __m128i b, __m128i) { return _mm_srli_epi16(_mm_add_epi16(a, b), 1); }

// Of a, b and c the one nearest to a + b - c, ties in the order a, b, c:
// |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |(a - c) + (b - c)|.
__m128i paeth(__m128i a, __m128i b, __m128i c) {
  const __m128i bMinusC = _mm_sub_epi16(b, c);
  const __m128i aMinusC = _mm_sub_epi16(a, c);
  const __m128i pa = absolute(bMinusC);
  const __m128i pb = absolute(aMinusC);
  const __m128i pc = absolute(_mm_add_epi16(aMinusC, bMinusC));
  const __m128i nearerOfAB = choose(_mm_cmplt_epi16(pb, pa), b, a);
  return choose(_mm_cmplt_epi16(pc, _mm_min_epi16(pa, pb)), c, nearerOfAB);
}

// Paeth on grey rows, one byte a step as above but in lane 0 alone: written
// plainly, its comparisons become branches that noisy rows mispredict.
void unfilterGreyPaeth(const uchar* in, const uchar* above, int bytes, uchar* out) {
  const __m128i lowBytes = _mm_set1_epi16(0xff);
  __m128i a = _mm_setzero_si128();
  __m128i c = _mm_setzero_si128();
  for (int i = 0; i < bytes; ++i) {
    const __m128i b = _mm_cvtsi32_si128(above[i]);
    a = _mm_and_si128(_mm_add_epi16(paeth(a, b, c), _mm_cvtsi32_si128(in[i])), lowBytes);
    c = b;
    out[i] = static_cast<uchar>(_mm_cvtsi128_si32(a));
  }
}

// One row of the file (its filter type, then `width` x `channels` bytes)
// into `out`, B, G, R for colour; `above` is the row decoded before it.
// The filtered bytes may be changed. False for an unknown filter type.
bool unfilterRow(uchar* line, const uchar* above, int width, int channels, uchar* out) {
  const int type = line[0];
  uchar* in = line + 1;
  if (type > 4) return false;
  if (channels == 3) {
    if (type == 1 || (type == 4 && above == nullptr)) {
      unfilterSubSwapped(in, width, out);
      return true;
    }
    if (type == 3 && above != nullptr) {
      unfilterPixelsSwapped(in, above, width, out, average);
      return true;
    }
    if (type == 4) {
      unfilterPixelsSwapped(in, above, width, out, paeth);
      return true;
    }
    // Every filter works channel by channel, so swapping the differences
    // first gives the pixels swapped.
    swapRedAndBlue(in, width);
  } else if (type == 4 && above != nullptr) {
    unfilterGreyPaeth(in, above, width, out);
    return true;
  }
  unfilterInOrder(type, in, above, width * channels, channels, out);
  return true;
}

}  // namespace

bool decodePlainPng(const std::vector<uchar>& bytes, cv::Mat& out) {
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
