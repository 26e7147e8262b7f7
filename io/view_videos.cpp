#include "io/view_videos.h"

#include "base/interrupt.h"
#include "base/parallel_work.h"
#include "base/plenoview_error.h"
#include "io/frame_checks.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace plenoview {

namespace {

namespace fs = std::filesystem;

const char kFrameMarker[] = "FRAME\n";
constexpr long long kFrameMarkerBytes = sizeof kFrameMarker - 1;

// View files kept open at once while a frame is written: their data is
// flushed together, and a large grid stays below the descriptor limit.
constexpr size_t kOpenFilesAtOnce = 128;

const char* formatTag(ViewVideoFormat format) {
  return format == ViewVideoFormat::kYuv ? "yuv" : "y4m";
}

// "done-<yuv|y4m>-<N>x<N>-": the journals of this format and N. Earlier
// versions kept them in the view folder, hidden, with a '.' before the name.
std::string journalPrefix(ViewVideoFormat format, int viewNum) {
  return "done-" + std::string(formatTag(format)) + "-" + std::to_string(viewNum) + "x" +
         std::to_string(viewNum) + "-";
}

std::string randomToken() {
  std::random_device source;
  std::uniform_int_distribution<unsigned> digit(0, 15);
  std::string text;
  for (int i = 0; i < 12; ++i) text += "0123456789abcdef"[digit(source)];
  return text;
}

[[noreturn]] void failWrite(const std::string& path, int error) {
  throw PlenoviewError("cannot write the view \"" + path + "\": " + std::strerror(error));
}

void writeAll(int fd, const unsigned char* data, size_t count, long long offset,
              const std::string& path) {
  while (count > 0) {
    const ssize_t done = ::pwrite(fd, data, count, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) failWrite(path, done < 0 ? errno : ENOSPC);
    data += done;
    count -= static_cast<size_t>(done);
    offset += done;
  }
}

// Opens a view file for writing in place. Only a regular file is written
// into: a symlink is not followed (it may lead anywhere), and a FIFO or a
// device under the name is refused instead of blocking or being written to.
int openViewFile(const std::string& path) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) failWrite(path, errno);
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw PlenoviewError("cannot write the view \"" + path + "\": not a regular file");
  }
  return fd;
}

void syncAndClose(std::vector<std::pair<int, std::string>>& files) {
  std::string failed;
  int error = 0;
  for (const auto& [fd, path] : files) {
    if (failed.empty() && ::fdatasync(fd) != 0) {
      failed = path;
      error = errno;
    }
    // The views are on the disk: their pages leave the cache, which a long
    // sequence would otherwise fill with views (over 60 MB a frame at 3840 x
    // 2160, 5 x 5), and the next frame writes into the pages they free
    // instead of new ones. A hint only; nothing depends on it.
    if (failed.empty()) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
  files.clear();
  if (!failed.empty()) failWrite(failed, error);
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Reads a journal line "<frame> <W>x<H>"; false for anything else (a line
// cut by a power loss, say).
bool parseJournalLine(const std::string& line, long long& frame, cv::Size& size) {
  int width = 0;
  int height = 0;
  int consumed = 0;
  if (std::sscanf(line.c_str(), "%lld %dx%d%n", &frame, &width, &height, &consumed) != 3 ||
      consumed != static_cast<int>(line.size()) || frame < 0 || width <= 0 || height <= 0 ||
      static_cast<long long>(width) * height > kMaxFramePixels) {
    return false;
  }
  size = cv::Size(width, height);
  return true;
}

}  // namespace

cv::Size evenViewSize(cv::Size viewSize) {
  return cv::Size(viewSize.width + viewSize.width % 2, viewSize.height + viewSize.height % 2);
}

std::string viewVideoFileName(int x, int y, ViewVideoFormat format, cv::Size evenSize) {
  char name[160];
  if (format == ViewVideoFormat::kYuv) {
    std::snprintf(name, sizeof name, "Result_c%02d%02d-%dx%d.yuv", x, y, evenSize.width,
                  evenSize.height);
  } else {
    std::snprintf(name, sizeof name, "Result_c%02d%02d.y4m", x, y);
  }
  return name;
}

std::string viewVideoHeader(cv::Size evenSize, int fps) {
  return "YUV4MPEG2 W" + std::to_string(evenSize.width) + " H" + std::to_string(evenSize.height) +
         " F" + std::to_string(fps) + ":1 Ip A1:1 C420jpeg\n";
}

long long viewVideoFrameBytes(ViewVideoFormat format, cv::Size evenSize) {
  const long long planes = static_cast<long long>(evenSize.width) * evenSize.height * 3 / 2;
  return format == ViewVideoFormat::kYuv ? planes : kFrameMarkerBytes + planes;
}

long long viewVideoFrameOffset(ViewVideoFormat format, cv::Size evenSize, int fps,
                               long long index) {
  const long long header = format == ViewVideoFormat::kYuv
                               ? 0
                               : static_cast<long long>(viewVideoHeader(evenSize, fps).size());
  return header + index * viewVideoFrameBytes(format, evenSize);
}

void viewToPlanes(const cv::Mat& view, cv::Mat& planes) {
  CV_Assert(view.depth() == CV_8U && (view.channels() == 1 || view.channels() == 3));
  cv::Mat even = view;
  if (view.cols % 2 != 0 || view.rows % 2 != 0) {
    thread_local cv::Mat padded;  // kept: a stream of views allocates nothing
    cv::copyMakeBorder(view, padded, 0, view.rows % 2, 0, view.cols % 2, cv::BORDER_REPLICATE);
    even = padded;
  }
  if (even.channels() == 3) {
    cv::cvtColor(even, planes, cv::COLOR_BGR2YUV_I420);
  } else {
    planes.create(even.rows / 2 * 3, even.cols, CV_8UC1);
    even.copyTo(planes.rowRange(0, even.rows));
    planes.rowRange(even.rows, planes.rows).setTo(128);
  }
}

cv::Mat viewToPlanes(const cv::Mat& view) {
  cv::Mat planes;
  viewToPlanes(view, planes);
  return planes;
}

ViewVideoFiles::ViewVideoFiles(const std::string& outputDir, ViewVideoFormat format, int viewNum,
                               int fps)
    : folder_((fs::path(outputDir) / "Result").string()),
      journalFolder_((fs::path(outputDir) / kJournalFolder).string()),
      format_(format),
      viewNum_(viewNum),
      fps_(fps) {}

ViewVideoFiles::~ViewVideoFiles() {
  abandonFrame();
  if (journal_ >= 0) ::close(journal_);
}

void ViewVideoFiles::beginFrame(int frameIndex) {
  std::error_code error;
  fs::create_directories(folder_, error);
  if (!fs::is_directory(folder_)) {
    throw PlenoviewError("cannot create the output folder \"" + folder_ + "\"" +
                         (error ? ": " + error.message() : std::string()));
  }
  abandonFrame();
  frame_ = frameIndex;
}

void ViewVideoFiles::writeViews(const std::vector<FinishedView>& views) {
  if (views.empty()) return;
  if (writtenViews_ == 0) evenSize_ = evenViewSize(views[0].view.size());
  const std::string header = viewVideoHeader(evenSize_, fps_);
  const long long offset = viewVideoFrameOffset(format_, evenSize_, fps_, frame_);
  const int total = viewNum_ * viewNum_;

  // The group's views are converted in parallel, into planes kept from group
  // to group, then written in order.
  const int count = static_cast<int>(views.size());
  if (static_cast<int>(planes_.size()) < count) planes_.resize(count);
  try {
    parallelForEachOnOwnThreads(count, encodingThreads(count),
                                [&](int i) { viewToPlanes(views[i].view, planes_[i]); });
    for (int view = 0; view < count; ++view) {
      const cv::Point at = views[view].place;
      const std::string path =
          (fs::path(folder_) / viewVideoFileName(at.x, at.y, format_, evenSize_)).string();
      const int fd = openViewFile(path);
      open_.emplace_back(fd, path);
      const cv::Mat& p = planes_[view];
      if (format_ == ViewVideoFormat::kY4m) {
        writeAll(fd, reinterpret_cast<const unsigned char*>(header.data()), header.size(), 0, path);
        writeAll(fd, reinterpret_cast<const unsigned char*>(kFrameMarker), kFrameMarkerBytes,
                 offset, path);
      }
      const long long planesAt =
          format_ == ViewVideoFormat::kY4m ? offset + kFrameMarkerBytes : offset;
      writeAll(fd, p.data, p.total(), planesAt, path);
      ++writtenViews_;
      if (open_.size() >= kOpenFilesAtOnce) syncAndClose(open_);
      // Ctrl-C stops between two views; the frame is not recorded, and
      // --resume writes it again.
      if (writtenViews_ < total) stopIfInterrupted(frame_);
    }
  } catch (...) {
    abandonFrame();
    throw;
  }
}

void ViewVideoFiles::endFrame() {
  CV_Assert(writtenViews_ == viewNum_ * viewNum_);
  try {
    syncAndClose(open_);
  } catch (...) {
    abandonFrame();
    throw;
  }
  record(frame_, evenSize_);
  writtenViews_ = 0;
}

void ViewVideoFiles::abandonFrame() {
  for (const auto& file : open_) ::close(file.first);
  open_.clear();
  writtenViews_ = 0;
}

void ViewVideoFiles::record(int frameIndex, cv::Size evenSize) {
  if (journal_ < 0) {
    std::error_code error;
    fs::create_directories(journalFolder_, error);
    journalPath_ =
        (fs::path(journalFolder_) / (journalPrefix(format_, viewNum_) + randomToken())).string();
    journal_ =
        ::open(journalPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (journal_ < 0) {
      throw PlenoviewError("cannot write the journal \"" + journalPath_ +
                           "\": " + std::strerror(errno));
    }
  }
  // The new view files and the journal exist for good only once their
  // folders themselves are flushed.
  if (!folderSynced_) {
    syncFolder(folder_);
    syncFolder(journalFolder_);
    folderSynced_ = true;
  }
  const std::string line = std::to_string(frameIndex) + " " + std::to_string(evenSize.width) + "x" +
                           std::to_string(evenSize.height) + "\n";
  // One write per line: a cut write leaves a line that does not parse.
  const ssize_t done = ::write(journal_, line.data(), line.size());
  if (done != static_cast<ssize_t>(line.size()) || ::fdatasync(journal_) != 0) {
    throw PlenoviewError("cannot write the journal \"" + journalPath_ +
                         "\": " + std::strerror(done < 0 ? errno : ENOSPC));
  }
}

int ViewVideoFiles::removeLeftovers(int /*first*/, int /*end*/) {
  // Journals an earlier version left in the view folder move beside it,
  // where the coding workflow's scripts, which read every file of the view
  // folder as a view, do not see them. A writer still appending to one keeps
  // appending to it where it moved.
  const std::string oldPrefix = "." + journalPrefix(format_, viewNum_);
  std::error_code error;
  std::vector<fs::path> moving;
  for (fs::directory_iterator it(folder_, error), done; !error && it != done; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, oldPrefix.size(), oldPrefix) == 0) moving.push_back(it->path());
  }
  if (moving.empty()) return 0;
  fs::create_directories(journalFolder_, error);
  for (const fs::path& from : moving) {
    const fs::path to = fs::path(journalFolder_) / from.filename().string().substr(1);
    fs::rename(from, to, error);
    if (error) {
      throw PlenoviewError("cannot move the journal \"" + from.string() + "\" to \"" + to.string() +
                           "\": " + error.message());
    }
  }
  return 0;
}

std::vector<int> ViewVideoFiles::completeFrames(int first, int end) const {
  const std::string prefix = journalPrefix(format_, viewNum_);
  std::map<int, std::set<std::pair<int, int>>> recorded;  // frame -> even sizes
  std::vector<fs::path> journals;
  for (const std::string& folder : {journalFolder_, folder_}) {
    // An earlier version's journals, hidden in the view folder, count too.
    const std::string wanted = folder == folder_ ? "." + prefix : prefix;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), done; !error && it != done;
         it.increment(error)) {
      if (it->path().filename().string().compare(0, wanted.size(), wanted) == 0) {
        journals.push_back(it->path());
      }
    }
  }
  for (const fs::path& path : journals) {
    std::ifstream journal(path);
    long long frame = 0;
    cv::Size size;
    for (std::string line; std::getline(journal, line);) {
      if (journal.eof()) break;  // no '\n': the write was cut
      if (parseJournalLine(line, frame, size) && frame >= first && frame < end) {
        recorded[static_cast<int>(frame)].insert({size.width, size.height});
      }
    }
  }
  // Per view size, how far all N x N files reach: the shortest of them, or
  // 0 when one is missing or (Y4M) starts with another header, written with
  // another frame rate, which moves every frame.
  std::map<std::pair<int, int>, long long> reach;
  const auto filesReach = [&](cv::Size size) {
    const auto known = reach.find({size.width, size.height});
    if (known != reach.end()) return known->second;
    const std::string header = viewVideoHeader(size, fps_);
    long long shortest = -1;
    for (int y = 0; y < viewNum_ && shortest != 0; ++y) {
      for (int x = 0; x < viewNum_ && shortest != 0; ++x) {
        const fs::path path = fs::path(folder_) / viewVideoFileName(x, y, format_, size);
        std::error_code sizeError;
        const auto bytes = fs::file_size(path, sizeError);
        long long length = sizeError || !fs::is_regular_file(path, sizeError) ? 0 : bytes;
        if (length > 0 && format_ == ViewVideoFormat::kY4m) {
          std::string start(header.size(), '\0');
          std::ifstream file(path, std::ios::binary);
          if (!file.read(start.data(), static_cast<std::streamsize>(start.size())) ||
              start != header) {
            length = 0;
          }
        }
        shortest = shortest < 0 ? length : std::min(shortest, length);
      }
    }
    reach[{size.width, size.height}] = shortest;
    return shortest;
  };
  std::vector<int> complete;
  for (const auto& [frame, sizes] : recorded) {
    for (const auto& [width, height] : sizes) {
      const cv::Size size(width, height);
      if (filesReach(size) >=
          viewVideoFrameOffset(format_, size, fps_, frame) + viewVideoFrameBytes(format_, size)) {
        complete.push_back(frame);
        break;
      }
    }
  }
  return complete;
}

}  // namespace plenoview
