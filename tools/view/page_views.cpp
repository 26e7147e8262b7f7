#include "tools/view/page_views.h"

#include "base/parallel_work.h"
#include "base/plenoview_error.h"
#include "tools/view/data_uri.h"

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <cstdio>

namespace plenoview::view {

void checkPageSize(std::size_t bytes, std::size_t maxBytes) {
  if (bytes <= maxBytes) return;
  throw PlenoviewError("the page would be larger than " + megabytesText(maxBytes) +
                       " (--max-mb); show fewer frames (--frames, --every), use --jpeg Q, or " +
                       "raise --max-mb");
}

std::string megabytesText(std::size_t bytes) {
  char text[32];
  if (bytes < 1000000) {
    std::snprintf(text, sizeof text, "%.0f kB", static_cast<double>(bytes) / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  }
  return text;
}

PageViews readPageViews(const ViewFolder& folder, const std::vector<int>& frames, int jpegQuality,
                        std::size_t maxBytes) {
  const int n = folder.viewNum();
  const cv::Size size = folder.viewSize();
  PageViews page;
  page.uris.assign(frames.size(), std::vector<std::string>(static_cast<std::size_t>(n) * n));
  page.mosaic.create(size.height * n, size.width * n, folder.grey() ? CV_8UC1 : CV_8UC3);

  const std::string extension = jpegQuality > 0 ? ".jpg" : ".png";
  const std::string mimeType = jpegQuality > 0 ? "image/jpeg" : "image/png";
  std::vector<int> parameters;
  if (jpegQuality > 0) parameters = {cv::IMWRITE_JPEG_QUALITY, jpegQuality};

  std::atomic<std::size_t> bytes{0};
  std::atomic<bool> over{false};
  // One item a view, so that a video view's file is opened once and read
  // frame after frame.
  parallelForEach(n * n, [&](int item) {
    const int x = item % n;
    const int y = item / n;
    ViewFolder::Reader reader = folder.reader(x, y);
    std::vector<uchar> encoded;
    for (std::size_t k = 0; k < frames.size() && !over; ++k) {
      const cv::Mat view = reader.bgr(frames[k]);
      if (k == 0)
        view.copyTo(
            page.mosaic(cv::Rect(x * size.width, y * size.height, size.width, size.height)));
      encodeImage(
          view, extension, parameters, encoded,
          "cannot encode the view \"" + folder.viewPath(frames[k], x, y) + "\" for the page");
      std::string& uri = page.uris[k][item];
      uri = dataUri(mimeType, encoded);
      const std::size_t total = bytes += uri.size();
      if (total > maxBytes) over = true;
      checkPageSize(total, maxBytes);
    }
  });
  page.bytes = bytes;
  return page;
}

}  // namespace plenoview::view
