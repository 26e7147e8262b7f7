#include "io/video_source.h"

#include "base/plenoview_error.h"
#include "io/y4m_header.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace plenoview {

namespace {

// Read-ahead for headers and frame markers; planes are read straight into
// their image.
constexpr size_t kBufferSize = 64 * 1024;

// A Y4M file's frames are located at opening, one position each. More than
// this many (over nine hours at 30 fps) would only come from a hostile file of
// tiny frames, whose index would then take more memory than its frames.
constexpr long long kMaxY4mFrames = 1 << 20;

bool endsWith(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  return std::equal(tail.begin(), tail.end(), text.end() - tail.size(), [](char low, char c) {
    return std::tolower(static_cast<unsigned char>(c)) == low;
  });
}

// A line cut by the end of the data that may be the start of a frame
// marker: the data ends inside the marker rather than holding something else.
bool startsLikeMarker(const std::string& line) {
  return std::string("FRAME").compare(0, line.size(), line) == 0 || isY4mFrameMarker(line);
}

std::string frameLabel(long long index) { return "frame " + std::to_string(index) + ": "; }

std::string framesHeld(long long count) {
  if (count == 0) return "no frame";
  if (count == 1) return "1 frame (0)";
  return std::to_string(count) + " frames (0 .. " + std::to_string(count - 1) + ")";
}

}  // namespace

bool isVideoPath(const std::string& imagePath) {
  if (imagePath == "-") return true;
  for (size_t i = 0; i < imagePath.size(); ++i) {
    if (imagePath[i] != '%') continue;
    if (i + 1 < imagePath.size() && imagePath[i + 1] == '%') {
      ++i;
    } else {
      return false;
    }
  }
  return endsWith(imagePath, ".yuv") || endsWith(imagePath, ".y4m");
}

std::string videoFilePath(const std::string& imagePath) {
  std::string path;
  for (size_t i = 0; i < imagePath.size(); ++i) {
    path += imagePath[i];
    if (imagePath[i] == '%' && i + 1 < imagePath.size() && imagePath[i + 1] == '%') ++i;
  }
  return path;
}

VideoFrameSource::VideoFrameSource(const std::string& imagePath, const RawVideoOptions& options)
    : path_(videoFilePath(imagePath)), buffer_(kBufferSize) {
  if (imagePath == "-") {
    fd_ = STDIN_FILENO;
    name_ = "standard input";
  } else {
    name_ = "\"" + path_ + "\"";
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw PlenoviewError("cannot open " + name_ + ": " + std::strerror(errno));
    ownsFd_ = true;
  }
  try {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) failRead();
    if (S_ISDIR(status.st_mode)) throw PlenoviewError(name_ + " is a folder, not a video");
    seekable_ = S_ISREG(status.st_mode);
    if (seekable_) {
      // Standard input may be a file opened further on by whoever started us.
      base_ = ownsFd_ ? 0 : std::max<long long>(0, ::lseek(fd_, 0, SEEK_CUR));
    }
    if (imagePath == "-") {
      fill(9);
      y4m_ = bufferEnd_ - bufferStart_ >= 9 &&
             std::memcmp(buffer_.data() + bufferStart_, "YUV4MPEG2", 9) == 0;
    } else {
      y4m_ = endsWith(path_, ".y4m");
    }
    if (y4m_) {
      openY4m(options);
    } else {
      openRaw(options);
    }
    if (seekable_ && !y4m_) {
      const long long length = status.st_size - base_;
      const long long frameBytes = format_.frameBytes();
      if (length % frameBytes != 0) {
        throw PlenoviewError(name_ + " holds " + std::to_string(length) +
                             " bytes, which is not a whole number of frames of " +
                             std::to_string(frameBytes) + " bytes (" + format_.describe() +
                             "): " + std::to_string(length / frameBytes) + " frames and " +
                             std::to_string(length % frameBytes) + " bytes over");
      }
      count_ = length / frameBytes;
    } else if (seekable_) {
      // The header was read ahead: the frames start where its line ended.
      const long long afterHeader = static_cast<long long>(::lseek(fd_, 0, SEEK_CUR)) -
                                    static_cast<long long>(bufferEnd_ - bufferStart_);
      locateY4mFrames(afterHeader, status.st_size);
    }
  } catch (...) {
    if (ownsFd_) ::close(fd_);
    throw;
  }
}

VideoFrameSource::~VideoFrameSource() {
  if (ownsFd_) ::close(fd_);
}

void VideoFrameSource::openRaw(const RawVideoOptions& options) {
  if (!options.sizeText.empty()) {
    format_.size = parseSizeText(options.sizeText, "--size");
  } else if (const auto named = path_ == "-" ? std::nullopt : sizeFromFileName(path_)) {
    format_.size = *named;
  } else {
    throw PlenoviewError(
        name_ + ": a raw video needs its frame size: give --size WxH" +
        (path_ == "-" ? "" : " or name the file as in \"seq_3840x2160_8bit.yuv\""));
  }
  if (options.pixelFormat == "yuv420p10le") {
    format_.bitDepth = 10;
  } else if (options.pixelFormat.empty()) {
    format_.bitDepth = path_ != "-" && tenBitByName(path_) ? 10 : 8;
  }
  checkVideoSize(format_.size, false, name_);
}

void VideoFrameSource::openY4m(const RawVideoOptions& options) {
  std::string line;
  const Line got = readLine(line);
  if (got == Line::kTooLong) {
    throw PlenoviewError(name_ + ": Y4M header: no end of line within the first " +
                         std::to_string(kMaxY4mLineLength) + " bytes");
  }
  if (got != Line::kRead) {
    throw PlenoviewError(name_ + ": Y4M header: the " + (seekable_ ? "file" : "stream") +
                         " ends before the header line does");
  }
  const Y4mHeader header = parseY4mHeader(line, name_);
  format_ = header.format;
  if (!options.sizeText.empty() && parseSizeText(options.sizeText, "--size") != format_.size) {
    throw PlenoviewError("--size " + options.sizeText + " contradicts the Y4M header of " + name_ +
                         " (" + format_.describe() + ")");
  }
  const bool tenBit = options.pixelFormat == "yuv420p10le";
  if (!options.pixelFormat.empty() && (format_.mono || tenBit != (format_.bitDepth == 10))) {
    throw PlenoviewError("--pixel-format " + options.pixelFormat +
                         " contradicts the Y4M header of " + name_ + " (" + format_.describe() +
                         ")");
  }
}

// Walks the frame records of a Y4M file, from `position` (just after the
// header) to `fileEnd`, checking each marker and noting where each frame's
// planes start.
void VideoFrameSource::locateY4mFrames(long long position, long long fileEnd) {
  const long long frameBytes = format_.frameBytes();
  std::string line;
  while (position < fileEnd) {
    const long long index = static_cast<long long>(offsets_.size());
    if (index >= kMaxY4mFrames) {
      throw PlenoviewError(name_ + " holds more than " + std::to_string(kMaxY4mFrames) + " frames");
    }
    seekTo(position);
    const Line got = readLine(line);
    if (got == Line::kCut && startsLikeMarker(line)) {
      throw PlenoviewError(name_ + " ends inside the marker of frame " + std::to_string(index) +
                           "; a Y4M file must hold whole frames");
    }
    if (got != Line::kRead || !isY4mFrameMarker(line)) {
      throw PlenoviewError(name_ + ": frame " + std::to_string(index) +
                           " does not start with a FRAME marker");
    }
    const long long planesAt = position + static_cast<long long>(line.size()) + 1;
    if (fileEnd - planesAt < frameBytes) {
      throw PlenoviewError(name_ + " ends inside frame " + std::to_string(index) + ", after " +
                           std::to_string(std::max(0LL, fileEnd - planesAt)) + " of its " +
                           std::to_string(frameBytes) +
                           " bytes; a Y4M file must hold whole frames");
    }
    offsets_.push_back(planesAt);
    position = planesAt + frameBytes;
  }
  count_ = static_cast<long long>(offsets_.size());
}

void VideoFrameSource::checkRange(int first, int end) const {
  if (count_ < 0 || first >= end || end <= count_) return;
  throw PlenoviewError("frames " + std::to_string(first) + " .. " + std::to_string(end - 1) +
                       " go past the end of " + name_ + ", which holds " + framesHeld(count_));
}

bool VideoFrameSource::endsBefore(int index) {
  if (seekable_) return index >= count_;
  return index == next_ && fill(1) == 0;
}

cv::Mat VideoFrameSource::frame(int index) {
  const cv::Mat yuv = planes(index);
  if (format_.mono) return yuv;
  cv::Mat& bgr = colourPool_.take();
  cv::cvtColor(yuv, bgr, cv::COLOR_YUV2BGR_I420);
  return bgr;
}

cv::Mat VideoFrameSource::copyOf(const cv::Mat& planes) {
  cv::Mat& copy = planesPool_.take();
  planes.copyTo(copy);
  return copy;
}

cv::Mat VideoFrameSource::planes(int index) {
  if (seekable_) {
    if (index < 0 || index >= count_) {
      throw PlenoviewError(frameLabel(index) + name_ + " holds " + framesHeld(count_));
    }
    cv::Mat& out = planesPool_.take();
    seekTo(y4m_ ? offsets_[index] : base_ + index * format_.frameBytes());
    readPlanes(index, out);
    return out;
  }
  for (const Kept& kept : kept_) {
    if (kept.index == index) return copyOf(kept.planes);
  }
  if (index < next_) {
    throw PlenoviewError(frameLabel(index) + name_ +
                         " is read in order and is already past this frame");
  }
  while (next_ <= index) {
    // The older of the two kept frames makes room.
    Kept& slot = kept_[0].index < kept_[1].index ? kept_[0] : kept_[1];
    slot.index = -1;
    if (y4m_) {
      std::string line;
      const Line got = readLine(line);
      if (got == Line::kEnd) {
        throw PlenoviewError(frameLabel(next_) + name_ + " ends before this frame, after " +
                             framesHeld(next_));
      }
      if (got == Line::kCut && startsLikeMarker(line)) {
        throw PlenoviewError(frameLabel(next_) + name_ + " ends inside the frame marker");
      }
      if (got != Line::kRead || !isY4mFrameMarker(line)) {
        throw PlenoviewError(frameLabel(next_) + name_ + " does not start with a FRAME marker");
      }
    }
    readPlanes(static_cast<int>(next_), slot.planes);
    slot.index = next_++;
  }
  for (const Kept& kept : kept_) {
    if (kept.index == index) return copyOf(kept.planes);
  }
  throw PlenoviewError(frameLabel(index) + "not kept after reading it");  // not reached
}

void VideoFrameSource::samples(int index, cv::Mat& out) {
  CV_Assert(seekable_);
  if (index < 0 || index >= count_) {
    throw PlenoviewError(frameLabel(index) + name_ + " holds " + framesHeld(count_));
  }
  const int rows = format_.mono ? format_.size.height : format_.size.height / 2 * 3;
  out.create(rows, format_.size.width, format_.bitDepth > 8 ? CV_16UC1 : CV_8UC1);
  seekTo(y4m_ ? offsets_[index] : base_ + index * format_.frameBytes());
  const size_t bytes = static_cast<size_t>(format_.frameBytes());
  const size_t got = readBytes(out.data, bytes);
  if (got < bytes) {
    throw PlenoviewError(frameLabel(index) + name_ + " ends inside this frame, after " +
                         std::to_string(got) + " of its " + std::to_string(bytes) + " bytes");
  }
  if (format_.bitDepth > 8) {
    // Little-endian words into the host's order (a no-op on little-endian hosts).
    unsigned char* bytesAt = out.data;
    auto* words = reinterpret_cast<std::uint16_t*>(out.data);
    for (size_t i = 0; i < bytes / 2; ++i) {
      words[i] = static_cast<std::uint16_t>(bytesAt[2 * i] | bytesAt[2 * i + 1] << 8);
    }
  }
}

// Reads one frame's planes from the current position into `out` (8-bit).
void VideoFrameSource::readPlanes(int index, cv::Mat& out) {
  const int rows = format_.mono ? format_.size.height : format_.size.height / 2 * 3;
  out.create(rows, format_.size.width, CV_8UC1);
  const long long frameBytes = format_.frameBytes();
  unsigned char* target = out.data;
  if (format_.bitDepth > 8) {
    wide_.resize(static_cast<size_t>(frameBytes));
    target = wide_.data();
  }
  const size_t got = readBytes(target, static_cast<size_t>(frameBytes));
  if (got == 0 && !y4m_) {
    throw PlenoviewError(frameLabel(index) + name_ + " ends before this frame, after " +
                         framesHeld(index));
  }
  if (got < static_cast<size_t>(frameBytes)) {
    throw PlenoviewError(frameLabel(index) + name_ + " ends inside this frame, after " +
                         std::to_string(got) + " of its " + std::to_string(frameBytes) + " bytes");
  }
  if (format_.bitDepth > 8) reduceTenBitSamples(wide_.data(), out.data, frameBytes / 2);
}

size_t VideoFrameSource::fill(size_t count) {
  if (bufferEnd_ - bufferStart_ >= count) return bufferEnd_ - bufferStart_;
  std::memmove(buffer_.data(), buffer_.data() + bufferStart_, bufferEnd_ - bufferStart_);
  bufferEnd_ -= bufferStart_;
  bufferStart_ = 0;
  while (bufferEnd_ < count) {
    const ssize_t got = ::read(fd_, buffer_.data() + bufferEnd_, buffer_.size() - bufferEnd_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failRead();
    if (got == 0) break;
    bufferEnd_ += static_cast<size_t>(got);
  }
  return bufferEnd_;
}

size_t VideoFrameSource::readBytes(unsigned char* out, size_t count) {
  const size_t buffered = std::min(count, bufferEnd_ - bufferStart_);
  std::memcpy(out, buffer_.data() + bufferStart_, buffered);
  bufferStart_ += buffered;
  size_t done = buffered;
  while (done < count) {
    const ssize_t got = ::read(fd_, out + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failRead();
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

VideoFrameSource::Line VideoFrameSource::readLine(std::string& line) {
  line.clear();
  while (true) {
    if (bufferStart_ == bufferEnd_ && fill(1) == 0) {
      return line.empty() ? Line::kEnd : Line::kCut;
    }
    const unsigned char* begin = buffer_.data() + bufferStart_;
    const size_t available = bufferEnd_ - bufferStart_;
    const void* newline = std::memchr(begin, '\n', available);
    const size_t take =
        newline ? static_cast<size_t>(static_cast<const unsigned char*>(newline) - begin)
                : available;
    if (line.size() + take + 1 > kMaxY4mLineLength) return Line::kTooLong;
    line.append(reinterpret_cast<const char*>(begin), take);
    bufferStart_ += newline ? take + 1 : take;
    if (newline) return Line::kRead;
  }
}

void VideoFrameSource::seekTo(long long position) {
  bufferStart_ = bufferEnd_ = 0;
  if (::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) failRead();
}

void VideoFrameSource::failRead() const {
  throw PlenoviewError("cannot read " + name_ + ": " + std::strerror(errno));
}

}  // namespace plenoview
