#include "driver/open_view_sink.h"

#include "io/png_view_files.h"
#include "io/view_videos.h"

namespace plenoview {

std::unique_ptr<ViewSink> openViewSink(const CommandLine& line, int viewNum) {
  if (line.outputFormat == "png") {
    return std::make_unique<PngViewFiles>(line.outputDir, viewNum, line.pngLevel);
  }
  return std::make_unique<ViewVideoFiles>(
      line.outputDir, line.outputFormat == "yuv" ? ViewVideoFormat::kYuv : ViewVideoFormat::kY4m,
      viewNum, line.fps);
}

}  // namespace plenoview
