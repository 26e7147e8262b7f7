#pragma once

#include <cstddef>
#include <cstdint>
#include <isa-l/crc.h>

namespace plenoview {

// What the PNG files plenoview reads and writes share: the signature every
// file starts with, the chunks' big-endian lengths and their CRC-32.

inline const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

inline std::uint32_t readBigEndian32(const unsigned char* at) {
  return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
         at[3];
}

inline void putBigEndian32(unsigned char* at, std::uint32_t value) {
  at[0] = static_cast<unsigned char>(value >> 24);
  at[1] = static_cast<unsigned char>(value >> 16);
  at[2] = static_cast<unsigned char>(value >> 8);
  at[3] = static_cast<unsigned char>(value);
}

// PNG's CRC-32 (that of gzip and zlib), over a chunk's type and data.
inline std::uint32_t pngChunkCrc(const unsigned char* typeAndData, std::size_t size) {
  return crc32_gzip_refl(0, typeAndData, size);
}

}  // namespace plenoview
