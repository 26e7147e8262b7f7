#include "io/video_format.h"

#include "base/plenoview_error.h"
#include "io/frame_checks.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

namespace plenoview {

namespace {

std::string sizeText(cv::Size size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

// Reads the digits at `text[at]` onwards into `value`; stops at the first
// non-digit. Values beyond int range are held at INT_MAX + 1 so that the
// limit check, not an overflow, reports them. Returns the position after
// the digits, or `at` when there are none.
size_t readDigits(const std::string& text, size_t at, long long& value) {
  value = 0;
  size_t i = at;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = std::min(value * 10 + (text[i] - '0'), 0x80000000LL);
    ++i;
  }
  return i;
}

int clampToInt(long long value) { return static_cast<int>(std::min(value, 0x7FFFFFFFLL)); }

}  // namespace

long long VideoFormat::frameBytes() const {
  const long long luma = static_cast<long long>(size.width) * size.height;
  const long long samples = mono ? luma : luma + 2 * (luma / 4);
  return bitDepth > 8 ? 2 * samples : samples;
}

std::string VideoFormat::describe() const {
  return sizeText(size) + ", " + std::to_string(bitDepth) + "-bit " + (mono ? "grey" : "4:2:0");
}

std::optional<cv::Size> sizeFromFileName(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  std::optional<cv::Size> found;
  for (size_t at = name.find('_'); at != std::string::npos; at = name.find('_', at + 1)) {
    long long width = 0;
    long long height = 0;
    const size_t x = readDigits(name, at + 1, width);
    if (x == at + 1 || x >= name.size() || name[x] != 'x') continue;
    const size_t end = readDigits(name, x + 1, height);
    if (end == x + 1 || end >= name.size() || (name[end] != '_' && name[end] != '.')) continue;
    const cv::Size size(clampToInt(width), clampToInt(height));
    if (found && *found != size) {
      throw PlenoviewError("\"" + path + "\": the file name gives two frame sizes, " +
                           sizeText(*found) + " and " + sizeText(size) + "; say which with --size");
    }
    found = size;
  }
  return found;
}

cv::Size parseSizeText(const std::string& text, const std::string& what) {
  long long width = 0;
  long long height = 0;
  const size_t x = readDigits(text, 0, width);
  const bool separated = x > 0 && x < text.size() && text[x] == 'x';
  const size_t end = separated ? readDigits(text, x + 1, height) : x;
  if (!separated || end == x + 1 || end != text.size()) {
    throw PlenoviewError(what + " \"" + text +
                         "\" is not a frame size WIDTHxHEIGHT (e.g. 3840x2160)");
  }
  return cv::Size(clampToInt(width), clampToInt(height));
}

bool tenBitByName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name.find("10bit") != std::string::npos;
}

void checkVideoSize(cv::Size size, bool mono, const std::string& source) {
  if (size.width <= 0 || size.height <= 0) {
    throw PlenoviewError(source + ": the frame size " + sizeText(size) + " is empty");
  }
  if (size.width > kMaxFrameSide || size.height > kMaxFrameSide ||
      static_cast<long long>(size.width) * size.height > kMaxFramePixels) {
    throw PlenoviewError(source + ": the frame size " + sizeText(size) +
                         " is beyond the limits; frames may have at most 65535 pixels per side "
                         "and 268435456 (2^28) in all");
  }
  if (!mono && (size.width % 2 != 0 || size.height % 2 != 0)) {
    throw PlenoviewError(source + ": the frame size " + sizeText(size) +
                         " is odd; 4:2:0 frames need an even width and height");
  }
}

void reduceTenBitSamples(const unsigned char* in, unsigned char* out, long long count) {
  for (long long i = 0; i < count; ++i) {
    const unsigned v = (in[2 * i] | static_cast<unsigned>(in[2 * i + 1]) << 8) >> 2;
    out[i] = static_cast<unsigned char>(v > 255 ? 255 : v);
  }
}

}  // namespace plenoview
