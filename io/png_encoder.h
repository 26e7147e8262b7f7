#pragma once

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

namespace plenoview {

// The compression levels of --png-level: 1, the default, is the fastest; 2
// and 3 give smaller files at more CPU time.
constexpr int kFastestPngLevel = 1;
constexpr int kSmallestPngLevel = 3;

// Encodes images as plain PNG files: the signature, IHDR, the image data in
// IDAT chunks of at most kPngDataChunkBytes, IEND; nothing else. At level 1
// every row is filtered with Paeth's predictor (the first with Sub, the same
// bytes) and compressed with ISA-L's igzip at its level 1. At levels 2 and 3
// each row gets the filter of the least absolute sum (filterRowSmallest) and
// is compressed with zlib at its level 4 or 9. Decoded, a file holds exactly
// the pixels of the image; its bytes are not those of cv::imwrite.
//
// One encoder holds its compressor's state and scratch memory (under 1 MB)
// and reuses them from image to image; it encodes one image at a time.
class PngEncoder {
 public:
  // `level`: kFastestPngLevel .. kSmallestPngLevel.
  explicit PngEncoder(int level = kFastestPngLevel);
  ~PngEncoder();
  PngEncoder(PngEncoder&&) noexcept;
  PngEncoder& operator=(PngEncoder&&) noexcept;

  // The PNG file of `image` into `bytes` (cleared first; its capacity is
  // reused). `image`: 8-bit, 1 channel (grey) or 3 (B, G, R as OpenCV holds
  // them; the file stores R, G, B), continuous or not. Returns false, with
  // `bytes` empty, for an empty image or any other depth or channel count.
  bool encode(const cv::Mat& image, std::vector<uchar>& bytes);

 private:
  struct Streams;
  int level_;
  std::unique_ptr<Streams> streams_;
};

// The most data bytes of one IDAT chunk.
constexpr size_t kPngDataChunkBytes = size_t{1} << 18;

}  // namespace plenoview
