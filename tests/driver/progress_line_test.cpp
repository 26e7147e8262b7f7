#include "driver/progress_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace plenoview {
namespace {

TEST(ProgressLine, FramesTimeLeftAndTheTerminalCodes) {
  // 12 of 300 at 1.53 s: 288 x 1.53 = 440.64 s, 7 min 21 s rounded.
  EXPECT_EQ(formatProgress(12, 300, 1.53), "frame 12 of 300, 1.53 s/frame, 0:07:21 left");
  // 1 of 3000 at 12.5 s: 2999 x 12.5 = 37487.5 s, 10 h 24 min 48 s (ties away).
  EXPECT_EQ(formatProgress(1, 3000, 12.5), "frame 1 of 3000, 12.50 s/frame, 10:24:48 left");
  EXPECT_EQ(formatProgress(5, 5, 0.2), "frame 5 of 5, 0.20 s/frame, 0:00:00 left");

  std::ostringstream alone;
  {
    ProgressLine line(alone, true, false, 4);
    line.frameDone(2.0);  // mean 2 s
    line.frameDone(5.0);  // mean 2.5 s
  }
  EXPECT_EQ(alone.str(),
            "\rframe 1 of 4, 2.00 s/frame, 0:00:06 left\033[K\r"
            "\rframe 2 of 4, 2.50 s/frame, 0:00:05 left\033[K\r"
            "\r\033[K\r");

  // Sharing the terminal with the frame counter: after its room, and only
  // that part is cleared.
  std::ostringstream shared;
  {
    ProgressLine line(shared, true, true, 2);
    line.frameDone(1.0);
  }
  EXPECT_EQ(shared.str(),
            "\r\033[16Cframe 1 of 2, 1.00 s/frame, 0:00:01 left\033[K\r\r\033[16C\033[K\r");

  // Not a terminal: nothing at all.
  std::ostringstream log;
  {
    ProgressLine line(log, false, true, 2);
    line.frameDone(1.0);
    line.clear();
  }
  EXPECT_EQ(log.str(), "");
}

}  // namespace
}  // namespace plenoview
