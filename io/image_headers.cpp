#include "io/image_headers.h"

#include "io/png_format.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <system_error>
#include <zlib.h>

namespace plenoview {

namespace {

// Every PNG ends with the end chunk: length 0, type IEND, its CRC.
const unsigned char kPngEndChunk[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};

// Byte-wise reading that reports the end of the stream as -1.
class ByteReader {
 public:
  explicit ByteReader(std::istream& in) : in_(in) {}

  int byte() {
    const std::istream::int_type c = in_.get();
    return c == std::istream::traits_type::eof() ? -1 : static_cast<int>(c);
  }

  // Reads `count` bytes into `out`; false at the end of the stream.
  bool bytes(unsigned char* out, size_t count) {
    in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<size_t>(in_.gcount()) == count;
  }

  // Reads up to `count` bytes into `out`; returns how many.
  size_t some(unsigned char* out, size_t count) {
    in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<size_t>(in_.gcount());
  }

  // Skips `count` bytes; false when the stream ends first.
  bool skip(std::uint64_t count) {
    char buffer[4096];
    while (count > 0) {
      const std::uint64_t chunk = count < sizeof buffer ? count : sizeof buffer;
      in_.read(buffer, static_cast<std::streamsize>(chunk));
      if (static_cast<std::uint64_t>(in_.gcount()) != chunk) return false;
      count -= chunk;
    }
    return true;
  }

  bool seek(std::uint64_t position) {
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(position));
    return static_cast<bool>(in_);
  }

 private:
  std::istream& in_;
};

std::uint32_t bigEndian(const unsigned char* p, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | p[i];
  return value;
}

std::uint32_t littleEndian(const unsigned char* p, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// CRC-32 as PNG defines it (polynomial 0xEDB88320, reflected).
// The chunk checksum, zlib's own (several bytes a step: a frame's 20 MB of
// chunks are checked before every decode).
std::uint32_t crc32Update(std::uint32_t crc, const unsigned char* data, size_t count) {
  return static_cast<std::uint32_t>(::crc32(crc, data, static_cast<uInt>(count)));
}

bool validPngDepth(int colourType, int depth) {
  switch (colourType) {
    case 0:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

// The signature has been read.
void inspectPng(ByteReader& in, FrameFileInfo& info) {
  info.format = "PNG";
  bool first = true;
  bool sawPalette = false;
  bool sawData = false;
  for (;;) {
    unsigned char head[8];
    if (!in.bytes(head, 8)) {
      info.damage = "is truncated (no IEND chunk)";
      return;
    }
    const std::uint32_t length = bigEndian(head, 4);
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (length > 0x7FFFFFFFu) {
      info.damage = "is corrupt (a chunk length beyond 2^31 - 1)";
      return;
    }
    if (first && (type != "IHDR" || length != 13)) {
      info.damage = "is corrupt (it does not start with an IHDR chunk)";
      return;
    }
    std::uint32_t crc = crc32Update(0, head + 4, 4);
    unsigned char ihdr[13];
    if (first) {
      if (!in.bytes(ihdr, 13)) {
        info.damage = "is truncated (in the IHDR chunk)";
        return;
      }
      crc = crc32Update(crc, ihdr, 13);
    } else {
      unsigned char buffer[4096];
      for (std::uint32_t left = length; left > 0;) {
        const std::uint32_t chunk = left < sizeof buffer ? left : sizeof buffer;
        if (!in.bytes(buffer, chunk)) {
          info.damage = "is truncated (in a " + type + " chunk)";
          return;
        }
        crc = crc32Update(crc, buffer, chunk);
        left -= chunk;
      }
    }
    unsigned char stored[4];
    if (!in.bytes(stored, 4)) {
      info.damage = "is truncated (in a " + type + " chunk)";
      return;
    }
    if (bigEndian(stored, 4) != crc) {
      info.damage = "is corrupt (CRC error in a " + type + " chunk)";
      return;
    }
    if (first) {
      const std::uint32_t width = bigEndian(ihdr, 4);
      const std::uint32_t height = bigEndian(ihdr + 4, 4);
      const int depth = ihdr[8];
      const int colourType = ihdr[9];
      if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu ||
          !validPngDepth(colourType, depth) || ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1) {
        info.damage = "is corrupt (invalid IHDR chunk)";
        return;
      }
      info.size = cv::Size(static_cast<int>(width), static_cast<int>(height));
      sawPalette = colourType != 3;  // only palette images need a PLTE chunk
      first = false;
      continue;
    }
    if (type == "PLTE") sawPalette = true;
    if (type == "IDAT") {
      if (!sawPalette) {
        info.damage = "is corrupt (palette image without a PLTE chunk)";
        return;
      }
      sawData = true;
    }
    if (type == "IEND") {
      if (!sawData) info.damage = "is corrupt (no IDAT chunk)";
      return;
    }
  }
}

bool isJpegFrameMarker(int m) {
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// The SOI marker has been read.
void inspectJpeg(ByteReader& in, FrameFileInfo& info) {
  info.format = "JPEG";
  const std::string truncated = "is truncated (no end-of-image marker)";
  int marker = -1;  // a marker already found while scanning entropy-coded data
  bool sawFrame = false;
  for (;;) {
    if (marker < 0) {
      // Like the decoder, skip stray bytes before the next marker.
      int c = in.byte();
      while (c >= 0 && c != 0xFF) c = in.byte();
      while (c == 0xFF) c = in.byte();
      if (c < 0) {
        info.damage = truncated;
        return;
      }
      marker = c;
    }
    const int m = marker;
    marker = -1;
    if (m == 0xD9) {  // end of image
      if (!sawFrame) info.damage = "is corrupt (no frame header)";
      return;
    }
    if ((m >= 0xD0 && m <= 0xD7) || m == 0x01 || m == 0x00) continue;
    unsigned char lengthBytes[2];
    if (!in.bytes(lengthBytes, 2)) {
      info.damage = truncated;
      return;
    }
    const std::uint32_t length = bigEndian(lengthBytes, 2);
    if (length < 2) {
      info.damage = "is corrupt (a segment length below 2)";
      return;
    }
    if (isJpegFrameMarker(m) && sawFrame) {
      // The decoder refuses a second frame header too; its size would not
      // be the one checked.
      info.damage = "is corrupt (more than one frame header)";
      return;
    }
    if (isJpegFrameMarker(m) && length >= 7) {
      unsigned char frame[5];
      if (!in.bytes(frame, 5) || !in.skip(length - 7)) {
        info.damage = truncated;
        return;
      }
      info.size = cv::Size(static_cast<int>(bigEndian(frame + 3, 2)),
                           static_cast<int>(bigEndian(frame + 1, 2)));
      sawFrame = true;
    } else if (!in.skip(length - 2)) {
      info.damage = truncated;
      return;
    }
    if (m != 0xDA) continue;
    // Entropy-coded data runs to the next marker that is not a stuffed
    // 0xFF 0x00 or a restart marker.
    for (;;) {
      int c = in.byte();
      if (c < 0) {
        info.damage = truncated;
        return;
      }
      if (c != 0xFF) continue;
      while (c == 0xFF) c = in.byte();
      if (c < 0) {
        info.damage = truncated;
        return;
      }
      if (c == 0x00 || (c >= 0xD0 && c <= 0xD7)) continue;
      marker = c;
      break;
    }
  }
}

// The first four bytes "II*\0" or "MM\0*" have been read.
void inspectTiff(ByteReader& in, FrameFileInfo& info, bool little) {
  const auto number = [little](const unsigned char* p, int count) {
    return little ? littleEndian(p, count) : bigEndian(p, count);
  };
  unsigned char offset[4];
  if (!in.bytes(offset, 4) || !in.seek(number(offset, 4))) return;
  unsigned char countBytes[2];
  if (!in.bytes(countBytes, 2)) return;
  const std::uint32_t entries = number(countBytes, 2);
  long long width = -1;
  long long height = -1;
  for (std::uint32_t e = 0; e < entries; ++e) {
    unsigned char entry[12];
    if (!in.bytes(entry, 12)) break;
    const std::uint32_t tag = number(entry, 2);
    const std::uint32_t type = number(entry + 2, 2);
    if (tag != 256 && tag != 257) continue;
    long long value = -1;
    if (type == 3) value = number(entry + 8, 2);  // SHORT
    if (type == 4) value = number(entry + 8, 4);  // LONG
    // A repeated tag: keep the larger value, the one the limits must see.
    long long& field = tag == 256 ? width : height;
    field = std::max(field, value);
  }
  // The decoder reports a file without a usable size itself.
  if (width < 0 || height < 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return;
  info.format = "TIFF";
  info.size = cv::Size(static_cast<int>(width), static_cast<int>(height));
}

// "BM" has been read.
void inspectBmp(ByteReader& in, FrameFileInfo& info) {
  unsigned char header[24];  // file header rest (12) and the start of the info header
  if (!in.bytes(header, 24)) return;
  const std::uint32_t infoSize = littleEndian(header + 12, 4);
  long long width = 0;
  long long height = 0;
  if (infoSize == 12) {
    width = littleEndian(header + 16, 2);
    height = littleEndian(header + 18, 2);
  } else if (infoSize >= 36) {
    width = static_cast<std::int32_t>(littleEndian(header + 16, 4));
    height = static_cast<std::int32_t>(littleEndian(header + 20, 4));
    if (height < 0) height = -height;  // rows stored top-down
  } else {
    return;
  }
  if (width < 0 || height > 0x7FFFFFFF) return;
  info.format = "BMP";
  info.size = cv::Size(static_cast<int>(width), static_cast<int>(height));
}

// "P1" .. "P6" has been read: width and height follow, with blanks and
// '#' comments between.
void inspectPnm(ByteReader& in, FrameFileInfo& info) {
  long long values[2] = {-1, -1};
  for (long long& value : values) {
    int c = in.byte();
    for (;;) {
      if (c == '#') {
        while (c >= 0 && c != '\n' && c != '\r') c = in.byte();
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
        c = in.byte();
      } else {
        break;
      }
    }
    if (c < '0' || c > '9') return;
    value = 0;
    while (c >= '0' && c <= '9') {
      if (value <= 0x7FFFFFFF) value = value * 10 + (c - '0');
      c = in.byte();
    }
  }
  if (values[0] > 0x7FFFFFFF || values[1] > 0x7FFFFFFF) return;
  info.format = "PNM";
  info.size = cv::Size(static_cast<int>(values[0]), static_cast<int>(values[1]));
}

}  // namespace

FrameFileInfo inspectFrameFile(std::istream& stream) {
  ByteReader in(stream);
  FrameFileInfo info;
  // The decoder is chosen by the first bytes, the DICOM one by "DICM" at 128.
  unsigned char head[132];
  const size_t got = in.some(head, sizeof head);
  const auto starts = [&](std::initializer_list<unsigned char> magic) {
    return got >= magic.size() && std::equal(magic.begin(), magic.end(), head);
  };
  const auto isBlank = [](unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  if (starts({0xFF, 0xD8}) && in.seek(2)) {
    inspectJpeg(in, info);
  } else if (starts({'B', 'M'}) && in.seek(2)) {
    inspectBmp(in, info);
  } else if (got >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' && isBlank(head[2]) &&
             in.seek(2)) {
    inspectPnm(in, info);
  } else if (starts({'I', 'I', 42, 0}) && in.seek(4)) {
    inspectTiff(in, info, true);
  } else if (starts({'M', 'M', 0, 42}) && in.seek(4)) {
    inspectTiff(in, info, false);
  } else if (got >= sizeof kPngSignature &&
             std::equal(kPngSignature, kPngSignature + sizeof kPngSignature, head) &&
             in.seek(sizeof kPngSignature)) {
    inspectPng(in, info);
  } else if (got == sizeof head && std::equal(head + 128, head + 132, "DICM")) {
    // The DICOM decoder ends the whole process on a damaged file (an
    // assertion in its library), and no camera writes DICOM.
    info.format = "DICOM";
    info.unsupported = true;
  }
  return info;
}

bool isWholePng(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return false;
  const auto size = fs::file_size(path, error);
  if (error || size < sizeof kPngSignature + sizeof kPngEndChunk) return false;
  std::ifstream in(path, std::ios::binary);
  unsigned char head[sizeof kPngSignature];
  unsigned char tail[sizeof kPngEndChunk];
  in.read(reinterpret_cast<char*>(head), sizeof head);
  in.seekg(-static_cast<std::streamoff>(sizeof tail), std::ios::end);
  in.read(reinterpret_cast<char*>(tail), sizeof tail);
  return in && std::memcmp(head, kPngSignature, sizeof head) == 0 &&
         std::memcmp(tail, kPngEndChunk, sizeof tail) == 0;
}

PngEnds inspectPngEnds(const std::string& path) {
  PngEnds ends;
  std::ifstream in(path, std::ios::binary);
  // The signature, then the IHDR chunk: length 13, type, 13 bytes, CRC.
  unsigned char head[sizeof kPngSignature + 25];
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (!in || std::memcmp(head, kPngSignature, sizeof kPngSignature) != 0) return ends;
  const unsigned char* chunk = head + sizeof kPngSignature;
  const unsigned char* ihdr = chunk + 8;
  if (bigEndian(chunk, 4) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0 ||
      bigEndian(ihdr + 13, 4) != crc32Update(0, chunk + 4, 17)) {
    return ends;
  }
  const std::uint32_t width = bigEndian(ihdr, 4);
  const std::uint32_t height = bigEndian(ihdr + 4, 4);
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu ||
      !validPngDepth(ihdr[9], ihdr[8])) {
    return ends;
  }
  ends.png = true;
  ends.size = cv::Size(static_cast<int>(width), static_cast<int>(height));
  ends.bitDepth = ihdr[8];
  ends.colourType = ihdr[9];
  unsigned char tail[sizeof kPngEndChunk];
  in.seekg(-static_cast<std::streamoff>(sizeof tail), std::ios::end);
  in.read(reinterpret_cast<char*>(tail), sizeof tail);
  ends.whole = in && in.tellg() >= static_cast<std::streamoff>(sizeof head + sizeof tail) &&
               std::memcmp(tail, kPngEndChunk, sizeof tail) == 0;
  return ends;
}

}  // namespace plenoview
