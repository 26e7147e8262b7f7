#pragma once

#include "io/view_sink.h"

#include <string>
#include <vector>

namespace plenoview {

// "Result_f<frame:04>_c<x:02><y:02>.png", or "Result_c<x:02><y:02>.png" for
// frameIndex -1. Fields widen for larger numbers (f12345, c100...).
std::string viewFileName(int frameIndex, int x, int y);

// Views as one PNG file each, <outputDir>/Result/viewFileName(frame, x, y).
// Each file is encoded with the encoder's default settings (the bytes
// cv::imwrite would write) and written whole under a temporary name, then
// renamed into place (io/atomic_write.h): a final name never holds a partial
// file. A frame is complete when all N x N of its files are whole PNGs
// (isWholePng); the leftovers of killed runs are their temporary files.
class PngViewFiles : public ViewSink {
 public:
  // Nothing is created before the first write.
  PngViewFiles(const std::string& outputDir, int viewNum);

  // Creates the Result folder (and its parents) when missing; names the
  // folder when it cannot. The views are written y outer, x inner; their
  // encoding, the costly part, runs on OpenCV's worker threads.
  void write(const ViewGrid& viewGrid, int frameIndex) override;
  int removeLeftovers(int first, int end) override;
  std::vector<int> completeFrames(int first, int end) const override;

 private:
  std::string folder_;  // <outputDir>/Result
  int viewNum_;
};

}  // namespace plenoview
