#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// The nominal patch size of every scale level: one level per candidate size,
// then 2 x lensMargin more continuing the candidates by patchSizeStep (the
// rendering cuts each patch at its size plus twice the margin). Without
// candidates there are no levels: the extra ones have nothing to continue.
std::vector<int> scaleLevelPatchSizes(const std::vector<int>& candidatePatchSizes, int lensMargin,
                                      int patchSizeStep);

// The size of the level that scales a patch of `patchSize` pixels of a frame
// of `frameSize` to `maskWidth` pixels: f = float(maskWidth) / float(patchSize)
// and each side is trunc(float(side) x f), all in single precision.
cv::Size scaleLevelSize(cv::Size frameSize, int maskWidth, int patchSize);

// Columns [begin, end) of one row of a window.
struct ColumnSpan {
  int begin = 0;
  int end = 0;
};

// Per row of `mask`, the columns from its first to its last non-zero pixel
// (an empty span for a row without any).
std::vector<ColumnSpan> nonZeroSpans(const cv::Mat& mask);

// Whether every pixel of `mask` within its `spans` (nonZeroSpans) is 255: a
// patch merged through it then writes each span whole.
bool solidWithin(const cv::Mat& mask, const std::vector<ColumnSpan>& spans);

// The scale levels of one frame, computed window by window instead of level by
// level. A level scaled by 11 from a 3840 x 2160 colour frame would take over
// 3 GB, all levels of it some 15 GB, while the stages only ever read
// lens-sized windows of them.
//
// Every window equals, byte for byte, the same window of
//   cv::resize(frame, level, scaleLevelSize(...), 0, 0, cv::INTER_LINEAR)
// and a grey window of a colour frame that of
//   cv::cvtColor(level, grey, cv::COLOR_RGB2GRAY)
// as OpenCV 4.6 computes them for 8-bit images. Per axis, destination index d
// reads source index s = floor(f) and s + 1 with weight f - s, where
// f = (float)((d + 0.5) x source / destination - 0.5) is rounded once from
// double; the weights become 11-bit fixed point (saturate_cast<short> of
// (1 - f) x 2048 and f x 2048). Columns clamp s to the frame with weight 0;
// rows only clip both source rows to the frame. The horizontal pass is exact
// in int; the vertical pass is OpenCV's 16-bit one:
//   (((c0 x (h0 >> 4)) >> 16) + ((c1 x (h1 >> 4)) >> 16) + 2) >> 2.
// A level of the frame's own size is a plain copy. Grey is
//   (b0 x 9798 + b1 x 19235 + b2 x 3735 + 16384) >> 15.
// The float rounding matters: keep this file free of fused multiply-adds.
//
// computeWindow may run on several threads at once after reset.
class ScaleLevelWindows {
 public:
  // Takes a shared handle on `frame` (8-bit, one or three channels) with one
  // level per entry of `levelPatchSizes`. The axis tables are kept while the
  // frame size, the mask width and the level sizes stay the same.
  void reset(const cv::Mat& frame, int maskWidth, const std::vector<int>& levelPatchSizes);

  // Drops the frame handle and every table.
  void clear();

  // Drops the frame handle only; the tables stay for the next frame.
  void releaseFrame() { frame_.release(); }

  int levelCount() const { return static_cast<int>(levels_.size()); }
  cv::Size levelSize(int level) const { return levels_[level].size; }
  int channels() const { return channels_; }

  // Computes `window` of `level` into `out` (created at the window's size):
  // with the frame's channels, or grey (one channel) when `grey` is set. The
  // window must lie inside the level. With `spans` (one per window row) only
  // those columns of each row are computed; the others are left as they were.
  void computeWindow(int level, const cv::Rect& window, bool grey, cv::Mat& out,
                     const std::vector<ColumnSpan>* spans = nullptr) const;

  // Computes the columns `spans` gives of `window` as computeWindow does and
  // merges them at weight one half (renderer/half_merge.h) into the image
  // whose window-sized region starts at `target`, `targetStep` bytes between
  // its rows, with as many channels as the window. Row by row, each while it
  // is in the cache, instead of a whole window first.
  void mergeWindow(int level, const cv::Rect& window, bool grey,
                   const std::vector<ColumnSpan>& spans, uchar* target, size_t targetStep) const;

 private:
  // Source positions and 11-bit weights of one axis of one level.
  struct Axis {
    std::vector<int> first;   // columns: byte offset of the first tap; rows: its
                              // row, clipped to the frame
    std::vector<int> second;  // rows only: the second tap's row, clipped
    std::vector<int> pairs;   // both weights, the first tap's in the low 16 bits
  };
  struct Level {
    int patchSize = 0;
    cv::Size size;
    bool copy = false;  // the frame's own size: a plain copy
    Axis columns;
    Axis rows;
    int safeEnd = 0;  // columns from here on lie too near the row's end for wide loads
  };

  // The horizontal pass of the frame rows that `window`'s rows under `spans`
  // (all columns without) read, then per row with a non-empty span
  // finishRow(r, span, h0, h1, c0, c1): its two resampled rows from the
  // span's first column on and their vertical weights. Not for levels that
  // are copies, unless turned grey.
  template <typename FinishRow>
  void resampleWindow(int level, const cv::Rect& window, bool toGrey,
                      const std::vector<ColumnSpan>* spans, FinishRow finishRow) const;

  cv::Mat frame_;
  cv::Size frameSize_;
  int maskWidth_ = 0;
  int channels_ = 0;
  std::vector<Level> levels_;
};

}  // namespace plenoview
