#include "driver/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace plenoview {

namespace {

// The frame counter on stdout takes "frameCnt:" and four or five digits.
constexpr int kCounterRoom = 16;

}  // namespace

std::string formatProgress(int done, int total, double secondsPerFrame) {
  const long long left = std::llround(std::max(0, total - done) * secondsPerFrame);
  char text[128];
  std::snprintf(text, sizeof text, "frame %d of %d, %.2f s/frame, %lld:%02lld:%02lld left", done,
                total, secondsPerFrame, left / 3600, left / 60 % 60, left % 60);
  return text;
}

ProgressLine::ProgressLine(std::ostream& out, bool shown, bool afterCounter, int total)
    : out_(out), shown_(shown), afterCounter_(afterCounter), total_(total) {}

ProgressLine::ProgressLine(int total)
    : ProgressLine(std::cerr, ::isatty(STDERR_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1, total) {}

ProgressLine::~ProgressLine() { clear(); }

// Back to the start of the line, past the counter's room when it shares it.
std::string ProgressLine::start() const {
  return afterCounter_ ? "\r\033[" + std::to_string(kCounterRoom) + "C" : "\r";
}

void ProgressLine::frameDone(double frameSeconds) {
  ++done_;
  if (!shown_) return;
  // "\033[K" erases what a longer earlier line left to the right; the
  // carriage return leaves the cursor where the frame counter expects it.
  out_ << start() << formatProgress(done_, total_, frameSeconds / done_) << "\033[K\r"
       << std::flush;
  onScreen_ = true;
}

void ProgressLine::clear() {
  if (!onScreen_) return;
  out_ << start() << "\033[K\r" << std::flush;
  onScreen_ = false;
}

}  // namespace plenoview
