#include "base/frame_path.h"

#include "base/plenoview_error.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace plenoview {

namespace {

constexpr int kMaxFieldWidth = 255;

bool isFlag(char c) { return std::strchr("-+ #0", c) != nullptr && c != '\0'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isIntConversion(char c) { return c != '\0' && std::strchr("diouxX", c) != nullptr; }

}  // namespace

void checkFramePattern(const std::string& pattern) {
  const auto refuse = [&](const std::string& why) {
    throw UsageError("ImagePath \"" + pattern + "\": " + why);
  };
  int conversions = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    ++i;
    if (i < pattern.size() && pattern[i] == '%') continue;
    while (i < pattern.size() && isFlag(pattern[i])) ++i;
    // Width and precision are bounded so that a typo cannot ask for a path of
    // gigabytes.
    const auto skipNumber = [&] {
      int value = 0;
      while (i < pattern.size() && isDigit(pattern[i])) {
        value = value * 10 + (pattern[i++] - '0');
        if (value > kMaxFieldWidth) refuse("field width or precision above 255");
      }
    };
    skipNumber();
    if (i < pattern.size() && pattern[i] == '.') {
      ++i;
      skipNumber();
    }
    if (i >= pattern.size()) refuse("ends in an incomplete % conversion");
    if (!isIntConversion(pattern[i])) {
      refuse(std::string("conversion '%") + pattern[i] +
             "' is not allowed (use one of d, i, o, u, x, X for the frame index, %% for a "
             "literal %)");
    }
    if (++conversions > 1)
      refuse("has more than one conversion; the frame index is the only value");
  }
}

std::string formatPath(const std::string& pattern, int index) {
  // The pattern has passed checkFramePattern: at most one int conversion.
  const int length = std::snprintf(nullptr, 0, pattern.c_str(), index);
  if (length < 0) throw PlenoviewError("ImagePath \"" + pattern + "\" cannot be formatted");
  std::string path(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(path.data(), path.size(), pattern.c_str(), index);
  path.resize(static_cast<size_t>(length));
  return path;
}

}  // namespace plenoview
