#include "io/y4m_header.h"

#include "base/plenoview_error.h"

#include <algorithm>
#include <string>

namespace plenoview {

namespace {

const char kSignature[] = "YUV4MPEG2";

// A field as it may be quoted in a message: at most 40 characters, anything
// unprintable shown as '?', since the header may be any bytes at all.
std::string quoted(const std::string& field) {
  std::string text = field.substr(0, 40);
  for (char& c : text) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return "\"" + text + (field.size() > 40 ? "...\"" : "\"");
}

bool allDigits(const std::string& text, size_t from, size_t to) {
  return from < to && std::all_of(text.begin() + from, text.begin() + to,
                                  [](char c) { return c >= '0' && c <= '9'; });
}

// A whole decimal number of up to 9 digits (so that it fits an int); the
// size limits are checked afterwards.
bool parseCount(const std::string& value, int& out) {
  if (value.size() > 9 || !allDigits(value, 0, value.size())) return false;
  out = std::stoi(value);
  return true;
}

bool isRatio(const std::string& value) {
  const size_t colon = value.find(':');
  return colon != std::string::npos && value.size() <= 21 && allDigits(value, 0, colon) &&
         allDigits(value, colon + 1, value.size());
}

}  // namespace

Y4mHeader parseY4mHeader(const std::string& line, const std::string& source) {
  const std::string prefix = source + ": Y4M header: ";
  const size_t signatureLength = sizeof kSignature - 1;
  if (line.compare(0, signatureLength, kSignature) != 0 ||
      (line.size() > signatureLength && line[signatureLength] != ' ')) {
    throw PlenoviewError(prefix + "no YUV4MPEG2 signature at the start");
  }
  Y4mHeader header;
  std::string seen;  // the tags met so far
  bool haveWidth = false;
  bool haveHeight = false;
  size_t at = signatureLength;
  while (at < line.size()) {
    const size_t end = std::min(line.find(' ', at + 1), line.size());
    const std::string field = line.substr(at + 1, end - at - 1);
    at = end;
    // Blanks in a row (or one at the end) leave empty fields: harmless.
    if (field.empty()) continue;
    const char tag = field[0];
    const std::string value = field.substr(1);
    if (tag != 'X' && seen.find(tag) != std::string::npos) {
      throw PlenoviewError(prefix + "field " + std::string(1, tag) + " is given twice");
    }
    seen += tag;
    if (tag == 'W' || tag == 'H') {
      int count = 0;
      if (!parseCount(value, count)) {
        throw PlenoviewError(prefix + "the " + (tag == 'W' ? "width " : "height ") + quoted(field) +
                             " is not a whole number");
      }
      (tag == 'W' ? header.format.size.width : header.format.size.height) = count;
      (tag == 'W' ? haveWidth : haveHeight) = true;
    } else if (tag == 'F' || tag == 'A') {
      if (!isRatio(value)) {
        throw PlenoviewError(prefix + "the " + (tag == 'F' ? "frame rate " : "pixel aspect ") +
                             quoted(field) + " is not of the form " + tag + "<num>:<den>");
      }
    } else if (tag == 'I') {
      if (value.size() != 1 || std::string("ptbm?").find(value[0]) == std::string::npos) {
        throw PlenoviewError(prefix + "the interlacing " + quoted(field) +
                             " is none of Ip, It, Ib, Im, I?");
      }
    } else if (tag == 'C') {
      header.chroma = value;
    } else if (tag != 'X') {
      throw PlenoviewError(prefix + "unknown field " + quoted(field));
    }
  }
  if (!haveWidth || !haveHeight) {
    throw PlenoviewError(prefix + "the " + (haveWidth ? "height H" : "width W") + " is missing");
  }
  const std::string& c = header.chroma;
  if (c == "420jpeg" || c == "420paldv" || c == "420mpeg2" || c == "420") {
    header.format.bitDepth = 8;
  } else if (c == "420p10") {
    header.format.bitDepth = 10;
  } else if (c == "mono") {
    header.format.mono = true;
  } else {
    throw PlenoviewError(prefix + "the chroma format " + quoted("C" + c) +
                         " is not supported; plenoview reads 4:2:0 (C420jpeg, C420paldv, "
                         "C420mpeg2, C420, C420p10) and grey (Cmono)");
  }
  checkVideoSize(header.format.size, header.format.mono, source);
  return header;
}

bool isY4mFrameMarker(const std::string& line) {
  return line.compare(0, 5, "FRAME") == 0 && (line.size() == 5 || line[5] == ' ');
}

}  // namespace plenoview
