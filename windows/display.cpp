#include "windows/display.h"

#include <opencv2/highgui.hpp>

#include <cstdlib>
#include <iostream>

namespace plenoview {

namespace {

bool gWindowsEnabled = false;
bool gFellBack = false;
bool gNoticeGiven = false;

bool environmentNames(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool displayAvailable() {
  return environmentNames("DISPLAY") || environmentNames("WAYLAND_DISPLAY");
}

void setWindowsEnabled(bool enabled, bool fellBack) {
  gWindowsEnabled = enabled;
  gFellBack = !enabled && fellBack;
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
  } else if (gFellBack && !gNoticeGiven) {
    gNoticeGiven = true;
    std::cerr << "plenoview: note: no display (DISPLAY and WAYLAND_DISPLAY are unset), running "
                 "without windows"
              << std::endl;
  }
}

int pollKey(int delayMs) { return gWindowsEnabled ? cv::waitKey(delayMs) : -1; }

}  // namespace plenoview
