#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace plenoview::view {

// "data:<mimeType>;base64,<bytes in base64>": a file's bytes written into a
// page, so that the page fetches nothing. Base64 as RFC 4648 defines it
// (alphabet A-Z a-z 0-9 + /, '=' padding), without line breaks.
std::string dataUri(const std::string& mimeType, const std::vector<uchar>& bytes);

// `image` encoded by cv::imencode as `extension` (".png", ".jpg") with
// `parameters`, into `bytes`; PlenoviewError `failure` when it cannot be.
void encodeImage(const cv::Mat& image, const std::string& extension,
                 const std::vector<int>& parameters, std::vector<uchar>& bytes,
                 const std::string& failure);

}  // namespace plenoview::view
