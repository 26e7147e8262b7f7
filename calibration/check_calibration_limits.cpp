#include "base/plenoview_error.h"
#include "calibration/calibration_limits.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace plenoview {

namespace {

std::string inFile(const std::string& path) { return "calibration file \"" + path + "\""; }

bool startsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool isXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Index just past `terminator`, searched from `from`; npos when absent.
size_t pastNext(const std::string& text, size_t from, const char* terminator) {
  const size_t at = text.find(terminator, from);
  return at == std::string::npos ? at : at + std::char_traits<char>::length(terminator);
}

// Index just past the '>' that ends a document type declaration starting at
// `from`; brackets nest, as the XML reader counts them.
size_t pastDoctype(const std::string& text, size_t from) {
  for (size_t i = from; i < text.size(); ++i) {
    if (text[i] == '>') return i + 1;
    if (text[i] != '[') continue;
    int depth = 1;
    for (++i; depth > 0; ++i) {
      if (i >= text.size()) return std::string::npos;
      if (text[i] == '[') ++depth;
      if (text[i] == ']') --depth;
    }
    --i;  // the loop's own ++i moves past the closing ']'
  }
  return std::string::npos;
}

}  // namespace

std::string formatValue(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

int xmlNestingDepth(const std::string& whole) {
  // The reader stops at the first NUL; so does the count.
  const std::string text = whole.substr(0, whole.find('\0'));
  int depth = 0;
  int deepest = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '<') {
      ++i;
      continue;
    }
    if (startsWith(text, i, "<!--")) {
      i = pastNext(text, i + 4, "-->");
    } else if (startsWith(text, i, "<![CDATA[")) {
      i = pastNext(text, i + 9, "]]>");
    } else if (startsWith(text, i, "<?")) {
      i = pastNext(text, i + 2, "?>");
    } else if (startsWith(text, i, "<!DOCTYPE") && i + 9 < text.size() && isXmlBlank(text[i + 9])) {
      i = pastDoctype(text, i + 10);
    } else if (startsWith(text, i, "<!")) {
      i = pastNext(text, i + 2, ">");
    } else if (startsWith(text, i, "</")) {
      depth = std::max(depth - 1, 0);
      i = pastNext(text, i + 2, ">");
    } else {
      // An element's start tag: '>' inside a quoted attribute value does not
      // end it, and "/>" closes the element at once.
      size_t j = i + 1;
      char quote = 0;
      for (; j < text.size(); ++j) {
        const char c = text[j];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      const bool selfClosing = j < text.size() && text[j - 1] == '/';
      if (!selfClosing) deepest = std::max(deepest, ++depth);
      i = j < text.size() ? j + 1 : std::string::npos;
    }
  }
  return deepest;
}

void checkCalibrationFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  // A missing or unreachable file is left to the reader, which says so.
  if (error || !fs::exists(status)) return;
  if (!fs::is_regular_file(status)) throw PlenoviewError(inFile(path) + " is not a regular file");
  const std::uintmax_t bytes = fs::file_size(path, error);
  if (!error && bytes > kMaxCalibrationFileBytes) {
    throw PlenoviewError(inFile(path) + " has " + std::to_string(bytes) +
                         " bytes, more than the 1048576 a calibration file may have");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) return;
  std::ostringstream text;
  text << file.rdbuf();
  const int depth = xmlNestingDepth(text.str());
  if (depth > kMaxXmlDepth) {
    throw PlenoviewError(inFile(path) + ": elements nest " + std::to_string(depth) +
                         " deep, more than the " + std::to_string(kMaxXmlDepth) + " allowed");
  }
}

void checkRotation(double rotation, const std::string& path) {
  if (!(std::abs(rotation) <= kMaxRotation)) {
    throw PlenoviewError(inFile(path) + ": RayCalibData.rotation " + formatValue(rotation) +
                         " is outside [-3.14159, 3.14159] (radians, half a turn either way)");
  }
}

void checkLensTypeOffset(double value, const std::string& key, const std::string& path) {
  if (!(std::abs(value) <= kMaxLensTypeOffset)) {
    throw PlenoviewError(inFile(path) + ": " + key + " " + formatValue(value) +
                         " is outside [-1000, 1000] (lens diameters)");
  }
}

void checkGridCentre(const cv::Point2d& centre, double radius, cv::Size frame,
                     const std::string& path) {
  const auto refuse = [&](const char* key, const char* axis, double at, const std::string& why) {
    throw PlenoviewError(inFile(path) + ": " + key + " puts the grid centre at " + axis + " " +
                         formatValue(at) + ", " + why);
  };
  const double W = frame.width;
  const double H = frame.height;
  if (!(centre.x >= 0.0 && centre.x <= W)) {
    refuse("RayCalibData.offset.x", "x", centre.x,
           "outside the " + std::to_string(frame.width) + "-pixel-wide frame");
  }
  if (!(centre.y >= radius)) {
    refuse("RayCalibData.offset.y", "y", centre.y,
           "closer than a radius (" + formatValue(radius) + ") to the top edge of the frame");
  }
  if (!(centre.y <= H)) {
    refuse("RayCalibData.offset.y", "y", centre.y,
           "below the " + std::to_string(frame.height) + "-pixel-high frame");
  }
}

void checkLensGrid(const LensCalibration& calib, cv::Size frame, const std::string& path) {
  if (calib.num.x >= 1 && calib.num.y >= 1) return;
  throw PlenoviewError(inFile(path) + ": a " + std::to_string(frame.width) + " x " +
                       std::to_string(frame.height) +
                       " frame holds no whole row of three lenses (one of each type) with "
                       "RayCalibData.diameter " +
                       formatValue(calib.diameter));
}

}  // namespace plenoview
