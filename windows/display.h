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

// True when windows can be shown: DISPLAY names an X display that accepts a
// connection (one is opened and closed at once), or DISPLAY is unset and
// WAYLAND_DISPLAY names a display, which is trusted. Otherwise `reason`, when
// given, receives why not, in a few words for the note ("DISPLAY \":9\"
// accepts no connection").
bool displayAvailable(std::string* reason = nullptr);

// Turns windows on or off for the rest of the run. A `fallbackReason` marks
// that they are off only because no display could be used: the first window
// that is then skipped prints one note on stderr that gives the reason.
void setWindowsEnabled(bool enabled, const std::string& fallbackReason = "");
bool windowsEnabled();

// cv::imshow when windows are on; nothing otherwise. An empty image only
// creates the window (or leaves it as it was) instead of failing.
void showImage(const std::string& title, const cv::Mat& image);

// cv::waitKey(delayMs) when windows are on; -1 (no key) otherwise.
int pollKey(int delayMs);

}  // namespace plenoview
