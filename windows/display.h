#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace plenoview {

// The one place that talks to the window system. Debian's OpenCV aborts the
// process on the first window when there is no display, so every imshow and
// waitKey of the program goes through here and becomes a no-op (no key) when
// windows are off.

// Key codes the program reacts to.
constexpr int kInspectKey = 'v';  // 118
constexpr int kQuitKey = 'q';     // 113

// True when the environment names a display (DISPLAY or WAYLAND_DISPLAY set
// and not empty).
bool displayAvailable();

// Turns windows on or off for the rest of the run. `fellBack` marks that they
// are off only because no display was found: the first window that is then
// skipped prints one notice on stderr.
void setWindowsEnabled(bool enabled, bool fellBack = false);
bool windowsEnabled();

// cv::imshow when windows are on; nothing otherwise. An empty image only
// creates the window (or leaves it as it was) instead of failing.
void showImage(const std::string& title, const cv::Mat& image);

// cv::waitKey(delayMs) when windows are on; -1 (no key) otherwise.
int pollKey(int delayMs);

}  // namespace plenoview
