#include "io/png_view_files.h"

#include "base/interrupt.h"
#include "base/parallel_work.h"
#include "base/plenoview_error.h"
#include "io/atomic_write.h"
#include "io/image_headers.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace plenoview {

namespace {

namespace fs = std::filesystem;

// The frame index of a temporary view file ".Result_f<digits>_c....png.tmp-...",
// or -1 for any other name.
long long temporaryFrameIndex(const std::string& name) {
  const std::string prefix = ".Result_f";
  if (!isTemporaryPngName(name) || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long long index = 0;
  size_t i = prefix.size();
  const size_t firstDigit = i;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - firstDigit < 12) {
    index = index * 10 + (name[i++] - '0');
  }
  if (i == firstDigit || name.compare(i, 2, "_c") != 0) return -1;
  return index;
}

}  // namespace

std::string viewFileName(int frameIndex, int x, int y) {
  char name[128];
  std::snprintf(name, sizeof name, "%s_f%04d_c%02d%02d.png", "Result", frameIndex, x, y);
  return name;
}

PngViewFiles::PngViewFiles(const std::string& outputDir, int viewNum, int pngLevel)
    : folder_((fs::path(outputDir) / "Result").string()), viewNum_(viewNum), pngLevel_(pngLevel) {
  CV_Assert(pngLevel >= kFastestPngLevel && pngLevel <= kSmallestPngLevel);
}

void PngViewFiles::beginFrame(int frameIndex) {
  const fs::path folder(folder_);
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder)) {
    throw PlenoviewError("cannot create the output folder \"" + folder.string() + "\"" +
                         (error ? ": " + error.message() : std::string()));
  }
  frame_ = frameIndex;
  written_.clear();
}

void PngViewFiles::writeViews(const std::vector<FinishedView>& views) {
  const int total = viewNum_ * viewNum_;
  const int count = static_cast<int>(views.size());
  // All of the group encoded in parallel, then written in order. An
  // interrupt keeps what is written: --resume completes the frame.
  if (static_cast<int>(encoded_.size()) < count) encoded_.resize(count);
  while (static_cast<int>(encoders_.size()) < count) encoders_.emplace_back(pngLevel_);
  std::vector<std::string> paths(count);
  for (int i = 0; i < count; ++i) {
    const cv::Point at = views[i].place;
    CV_Assert(at.x >= 0 && at.x < viewNum_ && at.y >= 0 && at.y < viewNum_);
    paths[i] = (fs::path(folder_) / viewFileName(frame_, at.x, at.y)).string();
  }
  std::vector<std::exception_ptr> failed(count);
  try {
    parallelForEachOnOwnThreads(count, encodingThreads(count), [&](int i) {
      try {
        encodePng(paths[i], views[i].view, encoders_[i], encoded_[i]);
      } catch (...) {
        failed[i] = std::current_exception();
      }
    });
    for (int i = 0; i < count; ++i) {
      if (failed[i]) std::rethrow_exception(failed[i]);
      writeEncodedAtomically(paths[i], encoded_[i], &pages_);
      written_.push_back(paths[i]);
      // Ctrl-C stops after the file in hand; after the frame's last one
      // the frame is complete and the frame loop stops before the next
      // frame instead.
      if (static_cast<int>(written_.size()) < total) stopIfInterrupted(frame_);
    }
  } catch (const InterruptedError&) {
    throw;
  } catch (const PlenoviewError&) {
    abandonFrame();
    throw;
  }
}

void PngViewFiles::endFrame() {
  CV_Assert(static_cast<int>(written_.size()) == viewNum_ * viewNum_);
  written_.clear();
  frame_ = -1;
}

void PngViewFiles::abandonFrame() {
  std::error_code error;
  for (const std::string& path : written_) fs::remove(path, error);
  written_.clear();
}

int PngViewFiles::removeLeftovers(int first, int end) {
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), done; !error && it != done; it.increment(error)) {
    const long long frame = temporaryFrameIndex(it->path().filename().string());
    if (frame < first || frame >= end) continue;
    std::error_code ignored;
    if (fs::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

std::vector<int> PngViewFiles::completeFrames(int first, int end) const {
  std::vector<int> complete;
  std::error_code error;
  if (!fs::is_directory(folder_, error)) return complete;
  for (int k = first; k < end; ++k) {
    bool whole = true;
    for (int y = 0; y < viewNum_ && whole; ++y) {
      for (int x = 0; x < viewNum_ && whole; ++x) {
        whole = isWholePng((fs::path(folder_) / viewFileName(k, x, y)).string());
      }
    }
    if (whole) complete.push_back(k);
  }
  return complete;
}

}  // namespace plenoview
