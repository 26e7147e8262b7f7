#pragma once

#include "io/frame_pool.h"
#include "io/frame_source.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace plenoview {

// Frames stored one image file each, PNG, JPEG, TIFF, BMP or PNM, named by a
// printf pattern with at most one int conversion ("frame%03d.png"; without
// one, every frame is the same file). Each file's header is checked
// (checkFrameFile) before the decoder sees it, so that a damaged or huge file
// gives a clear line rather than a half-decoded frame or an exhausted memory.
class ImageFileFrames : public FrameSource {
 public:
  explicit ImageFileFrames(std::string pattern);

  // "frame <index>: cannot read "<path>" ..." when the decoder gives nothing.
  cv::Mat read(int index) override;

 private:
  // The decoded image of the file at `path` (cv::imread's, IMREAD_UNCHANGED);
  // empty when it cannot be decoded.
  cv::Mat decodeFile(const std::string& path);

  std::string pattern_;
  cv::Size firstSize_;  // of the first frame returned; empty until then
  // Reused from frame to frame: a PNG file's bytes, and the decoded frames.
  std::vector<uchar> bytes_;
  FramePool pool_;
};

}  // namespace plenoview
