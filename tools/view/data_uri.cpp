#include "tools/view/data_uri.h"

#include "base/plenoview_error.h"

#include <opencv2/imgcodecs.hpp>

#include <cstddef>

namespace plenoview::view {

std::string dataUri(const std::string& mimeType, const std::vector<uchar>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string uri = "data:" + mimeType + ";base64,";
  uri.reserve(uri.size() + (bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  // Three bytes make four characters of six bits each.
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    uri += kAlphabet[group >> 18 & 63];
    uri += kAlphabet[group >> 12 & 63];
    uri += kAlphabet[group >> 6 & 63];
    uri += kAlphabet[group & 63];
  }
  // One or two bytes left: two or three characters, padded to four with '='.
  if (i < bytes.size()) {
    const bool two = i + 2 == bytes.size();
    const unsigned group = bytes[i] << 16 | (two ? bytes[i + 1] << 8 : 0);
    uri += kAlphabet[group >> 18 & 63];
    uri += kAlphabet[group >> 12 & 63];
    uri += two ? kAlphabet[group >> 6 & 63] : '=';
    uri += '=';
  }
  return uri;
}

void encodeImage(const cv::Mat& image, const std::string& extension,
                 const std::vector<int>& parameters, std::vector<uchar>& bytes,
                 const std::string& failure) {
  bool done = false;
  try {
    done = cv::imencode(extension, image, bytes, parameters);
  } catch (const cv::Exception&) {
    done = false;
  }
  if (!done) throw PlenoviewError(failure);
}

}  // namespace plenoview::view
