#pragma once

#include "io/video_format.h"

#include <opencv2/core.hpp>

#include <memory>
#include <string>

namespace plenoview {

// Where the frames of a run come from. The frame loop reads frames only
// through this, so that a new kind of input (a video file, a pipe) is one
// more implementation, not a change to the loop.
class FrameSource {
 public:
  virtual ~FrameSource() = default;

  // Frame `index` of the sequence (counted as ImageNum and --first-frame
  // count), never empty, with the depth and channels it was stored with: the
  // renderer brings it to 8 bits itself. Every frame has the size of the first
  // one this source returned. Throws PlenoviewError, one line naming the frame
  // and where it was looked for, when the frame cannot be read, is damaged, is
  // beyond the frame limits (io/frame_checks.h) or has another size than that
  // first frame.
  //
  // The order of the calls: the first frame of the range once before the
  // loop (for the calibration) and again as the loop's first frame; before a
  // frame whose predecessor the run did not process, that predecessor (the
  // warm-up, which goes on without it when it throws); otherwise ascending.
  virtual cv::Mat read(int index) = 0;

  // Refuses, before the first frame, frames first .. end-1 when the source
  // knows it cannot deliver them all (a range past the end of a video file),
  // saying what it holds. Image files are looked for frame by frame instead.
  virtual void checkRange(int /*first*/, int /*end*/) const {}
};

// The source that ImagePath names: a lenslet video when isVideoPath says so
// (VideoFrameSource, which opens the video and reads its format now; `video`
// describes a raw one), otherwise a printf pattern of image files
// (ImageFileFrames), of which nothing is read yet.
std::unique_ptr<FrameSource> openFrameSource(const std::string& imagePath,
                                             const RawVideoOptions& video = {});

}  // namespace plenoview
