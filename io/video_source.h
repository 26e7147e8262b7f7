#pragma once

#include "io/frame_pool.h"
#include "io/frame_source.h"
#include "io/video_format.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace plenoview {

// True when ImagePath names a lenslet video rather than a pattern of image
// files: "-" (standard input), or a path ending in ".yuv" or ".y4m" (any
// case) that holds no integer conversion. "%%" in such a path stands for
// "%", as in a pattern; videoFilePath gives the path to open.
bool isVideoPath(const std::string& imagePath);
std::string videoFilePath(const std::string& imagePath);

// The frames of a lenslet video: a raw planar YUV 4:2:0 file (".yuv"), a
// YUV4MPEG2 stream (".y4m"), or standard input ("-": Y4M when it starts with
// the Y4M signature, raw otherwise).
//
// A regular file is read at random: frame k of a raw file starts at byte
// k x frameBytes, and the frames of a Y4M file are located once, at opening.
// Anything else (a pipe, a FIFO, a terminal) is a stream, read in order.
class VideoFrameSource : public FrameSource {
 public:
  // Opens the video and learns its format: for Y4M from its header (read
  // now, also on a stream), for raw video from options.sizeText or the file
  // name, and from options.pixelFormat or the name. Throws PlenoviewError,
  // before any frame buffer is allocated, for a file that cannot be opened,
  // a missing, malformed, odd or out-of-limits size, a bad Y4M header, a
  // raw file whose length is not a whole number of frames (naming both
  // numbers), a Y4M file that ends inside a frame, and --size or
  // --pixel-format contradicting a Y4M header.
  VideoFrameSource(const std::string& imagePath, const RawVideoOptions& options);
  ~VideoFrameSource() override;
  VideoFrameSource(const VideoFrameSource&) = delete;
  VideoFrameSource& operator=(const VideoFrameSource&) = delete;

  const VideoFormat& format() const { return format_; }

  // Frames a file holds; -1 for a stream, whose end is not known ahead.
  long long frameCount() const { return count_; }

  // How messages name the video: "\"seq.yuv\"" or "standard input".
  const std::string& name() const { return name_; }

  // Refuses frames first .. end-1 when they go past the last frame of a
  // file, saying how many it holds. Nothing to check for an empty range or
  // a stream.
  void checkRange(int first, int end) const override;

  // True when the video ends before frame `index`, for reading "every frame
  // there is" without a count: a file holds fewer frames; a stream has given
  // every frame before `index` and nothing follows (this waits for the next
  // byte or the end). A stream that has not got as far as `index` yet is
  // not known to end there: false, and read() tells.
  bool endsBefore(int index);

  // Frame `index` as the pipeline's frame: cv::cvtColor(planes,
  // COLOR_YUV2BGR_I420) (8-bit BGR) for 4:2:0, the Y plane (8-bit grey) for
  // mono. 10-bit samples are reduced first (reduceTenBitSamples).
  cv::Mat frame(int index);
  cv::Mat read(int index) override { return frame(index); }

  // The frame's planes in 8 bits: one CV_8UC1 image of H x 3/2 rows (Y, then
  // U, then V, as I420) or, for mono, H rows. A new image on every call.
  //
  // On a stream the frames before `index` are read and dropped, and the
  // last two frames read are kept, so that a frame and the one before it can
  // be asked for again (the first frame is read for its size and again in the
  // frame loop, and the frame before a range for the patch-size replay). A
  // stream that ends before or inside frame `index` is refused, naming the
  // frame, once the frames before it have been read whole.
  cv::Mat planes(int index);

  // Frame `index` of a file (not a stream) as it holds the samples, for
  // measuring them: into `out` (memory reused), CV_8UC1, or CV_16UC1 with the
  // 10-bit values unreduced; H x 3/2 rows as I420, H rows for mono. Throws
  // PlenoviewError naming the frame for an index outside the file or a file
  // that has shrunk since it was opened.
  void samples(int index, cv::Mat& out);

 private:
  enum class Line { kRead, kEnd, kCut, kTooLong };

  void openRaw(const RawVideoOptions& options);
  void openY4m(const RawVideoOptions& options);
  void locateY4mFrames(long long position, long long fileEnd);
  void readPlanes(int index, cv::Mat& out);
  // `planes` copied into an image of planesPool_.
  cv::Mat copyOf(const cv::Mat& planes);

  // Buffered reading from the descriptor's current position.
  size_t fill(size_t count);
  size_t readBytes(unsigned char* out, size_t count);
  Line readLine(std::string& line);
  void seekTo(long long position);
  [[noreturn]] void failRead() const;

  std::string path_;
  std::string name_;
  int fd_ = -1;
  bool ownsFd_ = false;
  bool seekable_ = false;
  long long base_ = 0;  // where the video starts in the file
  bool y4m_ = false;
  VideoFormat format_;
  long long count_ = -1;
  std::vector<long long> offsets_;  // Y4M file: where each frame's planes start

  std::vector<unsigned char> buffer_;
  size_t bufferStart_ = 0;
  size_t bufferEnd_ = 0;
  std::vector<unsigned char> wide_;  // 10-bit samples of one frame
  // What frame() hands out, reused from frame to frame: the planes, and the
  // colour frames converted from them.
  FramePool planesPool_;
  FramePool colourPool_;

  // A stream: the index of the next frame it holds, and the last two frames
  // read.
  long long next_ = 0;
  struct Kept {
    long long index = -1;
    cv::Mat planes;
  };
  Kept kept_[2];
};

}  // namespace plenoview
