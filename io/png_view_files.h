#pragma once

#include "io/png_encoder.h"
#include "io/view_sink.h"
#include "io/written_pages.h"

#include <string>
#include <vector>

namespace plenoview {

// "Result_f<frame:04>_c<x:02><y:02>.png". Fields widen for larger numbers
// (f12345, c100...).
std::string viewFileName(int frameIndex, int x, int y);

// Views as one PNG file each, <outputDir>/Result/viewFileName(frame, x, y).
// Each file is encoded by a PngEncoder at `pngLevel` (decoded, the pixels
// cv::imwrite would write) and written whole under a temporary name, then
// renamed into place (io/atomic_write.h): a final name never holds a partial
// file. A frame is complete when all N x N of its files are whole PNGs
// (isWholePng); the leftovers of killed runs are their temporary files.
class PngViewFiles : public ViewSink {
 public:
  // Nothing is created before the first write. `pngLevel`:
  // kFastestPngLevel .. kSmallestPngLevel.
  PngViewFiles(const std::string& outputDir, int viewNum, int pngLevel = kFastestPngLevel);

  // beginFrame creates the Result folder (and its parents) when missing and
  // names the folder when it cannot. A group's views are encoded, the costly
  // part, on threads of their own, and written in their order, so the
  // first view that fails is the one reported and no later file is touched.
  // When a view cannot be written (a full disk), the views of this frame
  // written before it are removed again; abandonFrame removes them too.
  void beginFrame(int frameIndex) override;
  void writeViews(const std::vector<FinishedView>& views) override;
  void endFrame() override;
  void abandonFrame() override;
  int removeLeftovers(int first, int end) override;
  std::vector<int> completeFrames(int first, int end) const override;

 private:
  std::string folder_;  // <outputDir>/Result
  int viewNum_;
  int frame_ = -1;                    // the frame in hand
  std::vector<std::string> written_;  // its files in place so far
  int pngLevel_;
  std::vector<PngEncoder> encoders_;         // one per view of a group, reused
  std::vector<std::vector<uchar>> encoded_;  // their output, reused
  WrittenPages pages_;                       // the files written, until on the disk
};

}  // namespace plenoview
