#include "tools/view/view_page.h"

#include "base/plenoview_error.h"
#include "tools/view/data_uri.h"
#include "tools/view/view_page_text.h"

#include <opencv2/imgcodecs.hpp>

#include <string>

namespace plenoview::view {

namespace {

std::string htmlText(const std::string& text) {
  std::string html;
  for (const char c : text) {
    switch (c) {
      case '&':
        html += "&amp;";
        break;
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      case '"':
        html += "&quot;";
        break;
      default:
        html += c;
    }
  }
  return html;
}

std::string pngUri(const cv::Mat& picture) {
  std::vector<uchar> bytes;
  encodeImage(picture, ".png", {}, bytes, "cannot encode a patch-size picture for the page");
  return dataUri("image/png", bytes);
}

void appendPatchSizes(const PatchSizePictures& sizes, std::string& json) {
  const cv::Size lenses = sizes.frames.at(0)[0].size();
  json += "{\"low\":" + std::to_string(sizes.low) + ",\"high\":" + std::to_string(sizes.high) +
          ",\"lenses\":[" + std::to_string(lenses.width) + "," + std::to_string(lenses.height) +
          "],\"scale\":\"" + pngUri(sizes.scale) + "\",\"frames\":[";
  for (std::size_t k = 0; k < sizes.frames.size(); ++k) {
    json += k == 0 ? "[" : ",[";
    for (int type = 0; type < kLensTypes; ++type) {
      json += (type == 0 ? "\"" : ",\"") + pngUri(sizes.frames[k][type]) + "\"";
    }
    json += "]";
  }
  json += "]}";
}

std::string pageData(const PageFacts& facts, const PageViews& views,
                     const PatchSizePictures* patchSizes) {
  std::string json;
  json.reserve(views.bytes + 4 * views.uris.size() * facts.viewNum * facts.viewNum + 4096);
  json += "{\"views\":" + std::to_string(facts.viewNum) + ",\"size\":[" +
          std::to_string(facts.viewSize.width) + "," + std::to_string(facts.viewSize.height) +
          "],\"frames\":[";
  for (std::size_t k = 0; k < facts.frames.size(); ++k) {
    json += (k == 0 ? "" : ",") + std::to_string(facts.frames[k]);
  }
  json += "],\"images\":[";
  for (std::size_t k = 0; k < views.uris.size(); ++k) {
    json += k == 0 ? "[" : ",[";
    for (std::size_t v = 0; v < views.uris[k].size(); ++v) {
      json += v == 0 ? "\"" : ",\"";
      json += views.uris[k][v];  // base64: nothing to escape
      json += '"';
    }
    json += ']';
  }
  json += "],\"patchSizes\":";
  if (patchSizes) {
    appendPatchSizes(*patchSizes, json);
  } else {
    json += "null";
  }
  return json + "}";
}

}  // namespace

std::string makePage(const PageFacts& facts, const PageViews& views,
                     const PatchSizePictures* patchSizes) {
  const std::string data = pageData(facts, views, patchSizes);
  const std::string title = htmlText(facts.title);
  // The template's placeholders, each replaced once; what is put in is not
  // searched again.
  const std::string tmpl = kPageTemplate;
  std::string page;
  page.reserve(tmpl.size() + data.size() + sizeof kPageScript);
  std::string::size_type at = 0;
  while (true) {
    const std::string::size_type open = tmpl.find("{{", at);
    if (open == std::string::npos) break;
    const std::string::size_type close = tmpl.find("}}", open);
    if (close == std::string::npos) break;
    const std::string name = tmpl.substr(open + 2, close - open - 2);
    page.append(tmpl, at, open - at);
    if (name == "TITLE") {
      page += title;
    } else if (name == "DATA") {
      page += data;
    } else if (name == "SCRIPT") {
      page += kPageScript;
    }
    at = close + 2;
  }
  page.append(tmpl, at, std::string::npos);
  return page;
}

}  // namespace plenoview::view
