#include "io/frame_source.h"

#include "io/image_file_frames.h"

#include <memory>
#include <string>

namespace plenoview {

std::unique_ptr<FrameSource> openFrameSource(const std::string& imagePath) {
  return std::make_unique<ImageFileFrames>(imagePath);
}

}  // namespace plenoview
