#include "windows/display.h"

#include <opencv2/highgui.hpp>

#include <X11/Xlib.h>
#include <cstdlib>
#include <iostream>

namespace plenoview {

namespace {

bool gWindowsEnabled = false;
std::string gFallbackReason;
bool gNoticeGiven = false;

bool environmentNames(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// A connection opened and closed at once. A display that is named but gone (the
// forwarding of a closed ssh -X session, a variable left over in tmux) refuses
// it here, instead of aborting the process inside the window library after the
// first frame has been computed.
bool xDisplayAnswers(const char* name) {
  Display* const display = XOpenDisplay(name);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace

bool displayAvailable(std::string* reason) {
  std::string why;
  if (environmentNames("DISPLAY")) {
    // The window library uses X by default whenever DISPLAY is set (Qt 5's
    // choice, in a Wayland session too), so that display has to answer.
    const char* const name = std::getenv("DISPLAY");
    if (xDisplayAnswers(name)) return true;
    why = std::string("DISPLAY \"") + name + "\" accepts no connection";
  } else if (environmentNames("WAYLAND_DISPLAY")) {
    return true;
  } else {
    why = "DISPLAY and WAYLAND_DISPLAY are unset";
  }
  if (reason != nullptr) *reason = why;
  return false;
}

void setWindowsEnabled(bool enabled, const std::string& fallbackReason) {
  gWindowsEnabled = enabled;
  gFallbackReason = enabled ? "" : fallbackReason;
}

bool windowsEnabled() { return gWindowsEnabled; }

void showImage(const std::string& title, const cv::Mat& image) {
  if (gWindowsEnabled) {
    // OpenCV refuses to show an empty image; the window is still made (or
    // kept with its last picture) so that the user sees which one is blank.
    if (image.empty()) {
      cv::namedWindow(title);
    } else {
      cv::imshow(title, image);
    }
  } else if (!gFallbackReason.empty() && !gNoticeGiven) {
    gNoticeGiven = true;
    std::cerr << "plenoview: note: no display (" << gFallbackReason << "), running without windows"
              << std::endl;
  }
}

int pollKey(int delayMs) { return gWindowsEnabled ? cv::waitKey(delayMs) : -1; }

}  // namespace plenoview
