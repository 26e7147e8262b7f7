#include "io/frame_source.h"

#include "io/image_file_frames.h"
#include "io/video_source.h"

#include <memory>
#include <string>

namespace plenoview {

std::unique_ptr<FrameSource> openFrameSource(const std::string& imagePath,
                                             const RawVideoOptions& video) {
  if (isVideoPath(imagePath)) return std::make_unique<VideoFrameSource>(imagePath, video);
  return std::make_unique<ImageFileFrames>(imagePath);
}

}  // namespace plenoview
