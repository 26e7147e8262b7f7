#include "io/png_encoder.h"

#include "io/png_format.h"
#include "io/png_row_filters.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <isa-l/igzip_lib.h>
#include <vector>
#include <zlib.h>

namespace plenoview {

namespace {

// Rows are filtered in blocks of about this many bytes and handed to the
// compressor block by block: small enough to stay in the cache between the
// two, large enough that the calls are few.
constexpr size_t kBlockBytes = size_t{1} << 18;

// Zero bytes kept after a block's rows. The compressor's wide loads may read
// a few bytes past the input it is given; what they find there must not
// depend on what else the process keeps in memory, or the same image would
// not always give the same bytes.
constexpr size_t kBlockSlack = 256;

void appendChunk(std::vector<uchar>& bytes, const char* type, const uchar* data, uint32_t size) {
  const size_t at = bytes.size();
  bytes.resize(at + 12 + size);
  putBigEndian32(&bytes[at], size);
  std::memcpy(&bytes[at + 4], type, 4);
  if (size > 0) std::memcpy(&bytes[at + 8], data, size);
  putBigEndian32(&bytes[at + 8 + size], pngChunkCrc(&bytes[at + 4], 4 + size));
}

// The IDAT chunks at the end of a file's bytes, filled by a compressor:
// room() gives the free part of the chunk in hand (a new chunk when that is
// full), used() counts what was written into it, close() ends the last one.
class DataChunks {
 public:
  explicit DataChunks(std::vector<uchar>& bytes) : bytes_(bytes) {}

  uchar* room(size_t& size) {
    if (!open_ || filled_ == kPngDataChunkBytes) {
      close();
      start_ = bytes_.size();
      filled_ = 0;
      open_ = true;
      // The file's bytes are kept from view to view, so their capacity is
      // what stays: grown by an eighth at a time instead of doubled, it ends
      // near the largest file (a few reallocations on the first views).
      const size_t needed = start_ + 8 + kPngDataChunkBytes + 12;
      if (needed > bytes_.capacity()) {
        bytes_.reserve(std::max(needed, bytes_.capacity() + bytes_.capacity() / 8));
      }
      bytes_.resize(start_ + 8 + kPngDataChunkBytes);
    }
    size = kPngDataChunkBytes - filled_;
    return bytes_.data() + start_ + 8 + filled_;
  }

  void used(size_t size) { filled_ += size; }

  // Writes the length, type and CRC of the chunk in hand; an empty one is
  // dropped.
  void close() {
    if (!open_) return;
    open_ = false;
    if (filled_ == 0) {
      bytes_.resize(start_);
      return;
    }
    bytes_.resize(start_ + 8 + filled_ + 4);
    uchar* chunk = bytes_.data() + start_;
    putBigEndian32(chunk, static_cast<uint32_t>(filled_));
    std::memcpy(chunk + 4, "IDAT", 4);
    putBigEndian32(chunk + 8 + filled_, pngChunkCrc(chunk + 4, 4 + filled_));
  }

 private:
  std::vector<uchar>& bytes_;
  bool open_ = false;
  size_t start_ = 0;   // where the chunk in hand starts in bytes_
  size_t filled_ = 0;  // its data bytes so far
};

}  // namespace

// The compressors' state, kept from image to image: ISA-L's stream and the
// buffer its level 1 works in, or zlib's stream; the block of filtered rows.
struct PngEncoder::Streams {
  std::vector<uchar> block;
  std::vector<uchar> scratch;  // filterRowSmallest's
  isal_zstream isal{};
  std::vector<uint8_t> isalLevelBuffer;
  z_stream zlib{};
  bool zlibOpen = false;

  ~Streams() {
    if (zlibOpen) deflateEnd(&zlib);
  }

  bool start(int level) {
    if (level == kFastestPngLevel) {
      isalLevelBuffer.resize(ISAL_DEF_LVL1_DEFAULT);
      isal_deflate_init(&isal);
      isal.level = 1;
      isal.level_buf = isalLevelBuffer.data();
      isal.level_buf_size = static_cast<uint32_t>(isalLevelBuffer.size());
      isal.gzip_flag = IGZIP_ZLIB;
      return true;
    }
    if (zlibOpen) return deflateReset(&zlib) == Z_OK;
    // zlib's level 4 is its first with lazy matching: its levels 1 to 3
    // take the first match they find, which on views of fine texture makes
    // larger files than level 1 here. Z_FILTERED: filtered rows hold many
    // small values, better left literals than made into short matches.
    const int zlibLevel = level == 2 ? 4 : 9;
    zlibOpen = deflateInit2(&zlib, zlibLevel, Z_DEFLATED, 15, 8, Z_FILTERED) == Z_OK;
    return zlibOpen;
  }

  // Compresses `size` bytes at `data` into `chunks`; `last` ends the stream.
  // Each call has room to write into, so a compressor that neither takes
  // input nor writes twice running is stuck, and the image fails.
  bool compress(int level, uchar* data, size_t size, bool last, DataChunks& chunks) {
    int idleCalls = 0;
    const auto progressed = [&](size_t inputBefore, size_t inputAfter, size_t written) {
      idleCalls = inputAfter == inputBefore && written == 0 ? idleCalls + 1 : 0;
      return idleCalls < 2;
    };
    if (level == kFastestPngLevel) {
      isal.next_in = data;
      isal.avail_in = static_cast<uint32_t>(size);
      isal.end_of_stream = last ? 1 : 0;
      isal.flush = NO_FLUSH;
      do {
        size_t room = 0;
        isal.next_out = chunks.room(room);
        isal.avail_out = static_cast<uint32_t>(room);
        const size_t input = isal.avail_in;
        if (isal_deflate(&isal) != COMP_OK) return false;
        chunks.used(room - isal.avail_out);
        if (!progressed(input, isal.avail_in, room - isal.avail_out)) return false;
      } while (isal.avail_in > 0 || (last && isal.internal_state.state != ZSTATE_END));
      return true;
    }
    zlib.next_in = data;
    zlib.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    do {
      size_t room = 0;
      zlib.next_out = chunks.room(room);
      zlib.avail_out = static_cast<uInt>(room);
      const size_t input = zlib.avail_in;
      status = deflate(&zlib, last ? Z_FINISH : Z_NO_FLUSH);
      if (status == Z_STREAM_ERROR) return false;
      chunks.used(room - zlib.avail_out);
      if (!progressed(input, zlib.avail_in, room - zlib.avail_out)) return false;
    } while (zlib.avail_in > 0 || (last && status != Z_STREAM_END));
    return true;
  }
};

PngEncoder::PngEncoder(int level) : level_(level), streams_(std::make_unique<Streams>()) {
  CV_Assert(level >= kFastestPngLevel && level <= kSmallestPngLevel);
}

PngEncoder::~PngEncoder() = default;
PngEncoder::PngEncoder(PngEncoder&&) noexcept = default;
PngEncoder& PngEncoder::operator=(PngEncoder&&) noexcept = default;

bool PngEncoder::encode(const cv::Mat& image, std::vector<uchar>& bytes) {
  bytes.clear();
  const int channels = image.channels();
  if (image.empty() || image.dims != 2 || image.depth() != CV_8U ||
      (channels != 1 && channels != 3)) {
    return false;
  }
  Streams& streams = *streams_;
  bytes.insert(bytes.end(), kPngSignature, kPngSignature + sizeof kPngSignature);
  uchar header[13] = {};
  putBigEndian32(header, static_cast<uint32_t>(image.cols));
  putBigEndian32(header + 4, static_cast<uint32_t>(image.rows));
  header[8] = 8;                      // bits a sample
  header[9] = channels == 3 ? 2 : 0;  // colour type: RGB or grey
  appendChunk(bytes, "IHDR", header, sizeof header);

  const int rowBytes = image.cols * channels;
  const size_t lineBytes = static_cast<size_t>(rowBytes) + 1;  // the filter type first
  const int rowsPerBlock =
      static_cast<int>(std::max<size_t>(1, std::min<size_t>(kBlockBytes / lineBytes, image.rows)));
  streams.block.resize(rowsPerBlock * lineBytes + kBlockSlack);
  if (level_ != kFastestPngLevel) streams.scratch.resize(2 * static_cast<size_t>(rowBytes));
  if (!streams.start(level_)) {
    bytes.clear();
    return false;
  }
  DataChunks chunks(bytes);
  for (int first = 0; first < image.rows; first += rowsPerBlock) {
    const int end = std::min(image.rows, first + rowsPerBlock);
    uchar* line = streams.block.data();
    for (int y = first; y < end; ++y, line += lineBytes) {
      const uchar* row = image.ptr<uchar>(y);
      const uchar* above = y > 0 ? image.ptr<uchar>(y - 1) : nullptr;
      if (level_ == kFastestPngLevel) {
        const PngFilter filter = above ? PngFilter::kPaeth : PngFilter::kSub;
        line[0] = static_cast<uchar>(filter);
        filterRow(filter, row, above, rowBytes, channels, line + 1);
      } else {
        line[0] = static_cast<uchar>(
            filterRowSmallest(row, above, rowBytes, channels, line + 1, streams.scratch.data()));
      }
      if (channels == 3) swapRedAndBlue(line + 1, image.cols);
    }
    std::memset(line, 0, kBlockSlack);
    if (!streams.compress(level_, streams.block.data(), line - streams.block.data(),
                          end == image.rows, chunks)) {
      bytes.clear();
      return false;
    }
  }
  chunks.close();
  appendChunk(bytes, "IEND", nullptr, 0);
  return true;
}

}  // namespace plenoview
