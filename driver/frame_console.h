#pragma once

#include <string>

namespace plenoview {

// The frame loop's console output: the counter and the window lines. While
// the frame before is still being written, the next frame's output is held
// back, so that stdout reads as if the frames had run one after another: it
// appears once the frame before is complete, and is dropped with the next
// frame when the frame before fails.
class FrameConsole {
 public:
  // "frameCnt:%04d\r", without a newline.
  void counter(int k);
  // One window line and its newline.
  void line(const std::string& text);

  // From now on output is held back.
  void hold() { holding_ = true; }
  // Writes what was held and stops holding.
  void release();
  // Forgets what was held and stops holding.
  void drop();

 private:
  bool holding_ = false;
  std::string held_;
};

}  // namespace plenoview
