#include "driver/frame_console.h"

#include <cstdio>
#include <iostream>

namespace plenoview {

void FrameConsole::counter(int k) {
  char text[32];
  std::snprintf(text, sizeof text, "frameCnt:%04d\r", k);
  if (holding_) {
    held_ += text;
  } else {
    std::fputs(text, stdout);
  }
}

void FrameConsole::line(const std::string& text) {
  if (holding_) {
    held_ += text;
    held_ += '\n';
  } else {
    std::cout << text << std::endl;
  }
}

void FrameConsole::release() {
  holding_ = false;
  std::fputs(held_.c_str(), stdout);
  std::fflush(stdout);
  held_.clear();
}

void FrameConsole::drop() {
  holding_ = false;
  held_.clear();
}

}  // namespace plenoview
