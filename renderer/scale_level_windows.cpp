#include "renderer/scale_level_windows.h"

#include <algorithm>
#include <cstring>

namespace plenoview {

namespace {

// Where each destination index of one axis reads, as OpenCV's bilinear resize
// places it. `stride` turns column indices into byte offsets (1 for rows).
template <typename Axis>
void buildAxis(int sourceLength, int destinationLength, bool clampWeights,
               int stride, Axis& axis) {
  axis.first.resize(destinationLength);
  axis.second.resize(destinationLength);
  axis.weight0.resize(destinationLength);
  axis.weight1.resize(destinationLength);
  const double inverse = static_cast<double>(destinationLength) / sourceLength;
  const double scale = 1.0 / inverse;
  const int last = sourceLength - 1;
  for (int d = 0; d < destinationLength; ++d) {
    // Computed in double, rounded once to float.
    float f = static_cast<float>((d + 0.5) * scale - 0.5);
    int s = cvFloor(f);
    f -= s;
    int first = s;
    int second = s + 1;
    if (clampWeights) {
      // Columns: outside the frame the edge column is taken whole.
      if (s < 0) {
        s = 0;
        f = 0;
      }
      if (s >= last) {
        s = last;
        f = 0;
      }
      first = s;
      second = std::min(s + 1, last);
    } else {
      // Rows keep their weight; only the rows read are clipped.
      first = std::clamp(first, 0, last);
      second = std::clamp(second, 0, last);
    }
    axis.first[d] = first * stride;
    axis.second[d] = second * stride;
    axis.weight0[d] = cv::saturate_cast<short>((1.f - f) * 2048);
    axis.weight1[d] = cv::saturate_cast<short>(f * 2048);
  }
}

// One source row, horizontally resampled for window columns [begin, end), kept
// as h >> 4 (which fits 16 bits: h <= 255 x 2049).
template <int Channels>
void horizontalPass(const uchar* source, const int* first, const int* second,
                    const short* w0, const short* w1, int begin, int end,
                    short* out) {
  for (int i = begin; i < end; ++i) {
    const uchar* a = source + first[i];
    const uchar* b = source + second[i];
    for (int c = 0; c < Channels; ++c) {
      out[i * Channels + c] =
          static_cast<short>((a[c] * w0[i] + b[c] * w1[i]) >> 4);
    }
  }
}

// OpenCV's 16-bit vertical pass: both products keep their high halves.
void verticalPass(const short* h0, const short* h1, short c0, short c1,
                  uchar* out, int count) {
  for (int i = 0; i < count; ++i) {
    const short p0 = static_cast<short>((c0 * h0[i]) >> 16);
    const short p1 = static_cast<short>((c1 * h1[i]) >> 16);
    const short v = static_cast<short>((p0 + p1 + 2) >> 2);
    out[i] = static_cast<uchar>(v > 255 ? 255 : v);
  }
}

// COLOR_RGB2GRAY on 8 bits: 0.299, 0.587, 0.114 in 15-bit fixed point.
void greyPass(const uchar* colour, uchar* grey, int count) {
  for (int i = 0; i < count; ++i) {
    const uchar* p = colour + 3 * i;
    grey[i] = static_cast<uchar>(
        (p[0] * 9798 + p[1] * 19235 + p[2] * 3735 + 16384) >> 15);
  }
}

// Scratch of one thread: two horizontally resampled rows and one colour row.
struct RowScratch {
  std::vector<short> row[2];
  int source[2] = {-1, -1};
  int begin[2] = {0, 0};
  int end[2] = {0, 0};
  std::vector<uchar> colour;
};

}  // namespace

cv::Size scaleLevelSize(cv::Size frameSize, int maskWidth, int patchSize) {
  const float f = static_cast<float>(maskWidth) / static_cast<float>(patchSize);
  return cv::Size(static_cast<int>(frameSize.width * f),
                  static_cast<int>(frameSize.height * f));
}

std::vector<ColumnSpan> nonZeroSpans(const cv::Mat& mask) {
  std::vector<ColumnSpan> spans(mask.rows);
  for (int r = 0; r < mask.rows; ++r) {
    const uchar* m = mask.ptr<uchar>(r);
    int begin = 0;
    while (begin < mask.cols && m[begin] == 0) ++begin;
    int end = mask.cols;
    while (end > begin && m[end - 1] == 0) --end;
    spans[r] = begin < end ? ColumnSpan{begin, end} : ColumnSpan{0, 0};
  }
  return spans;
}

void ScaleLevelWindows::reset(const cv::Mat& frame, int maskWidth,
                              const std::vector<int>& levelPatchSizes) {
  CV_Assert(frame.depth() == CV_8U &&
            (frame.channels() == 1 || frame.channels() == 3));
  const bool sameTables =
      !frame_.empty() && frame.size() == frame_.size() &&
      frame.channels() == channels_ && maskWidth == maskWidth_ &&
      levelPatchSizes.size() == levels_.size() &&
      std::equal(
          levelPatchSizes.begin(), levelPatchSizes.end(), levels_.begin(),
          [](int size, const Level& level) { return size == level.patchSize; });
  frame_ = frame;
  if (sameTables) return;

  maskWidth_ = maskWidth;
  channels_ = frame.channels();
  levels_.assign(levelPatchSizes.size(), Level());
  for (size_t i = 0; i < levels_.size(); ++i) {
    Level& level = levels_[i];
    level.patchSize = levelPatchSizes[i];
    level.size = scaleLevelSize(frame.size(), maskWidth, level.patchSize);
    level.copy = level.size == frame.size();
    if (level.copy) continue;
    buildAxis(frame.cols, level.size.width, true, channels_, level.columns);
    buildAxis(frame.rows, level.size.height, false, 1, level.rows);
  }
}

void ScaleLevelWindows::clear() {
  frame_.release();
  levels_.clear();
}

void ScaleLevelWindows::computeWindow(
    int level, const cv::Rect& window, bool grey, cv::Mat& out,
    const std::vector<ColumnSpan>* spans) const {
  const Level& L = levels_[level];
  CV_Assert(window.x >= 0 && window.y >= 0 &&
            window.x + window.width <= L.size.width &&
            window.y + window.height <= L.size.height);
  const int cn = channels_;
  const bool toGrey = grey && cn == 3;
  out.create(window.size(), toGrey ? CV_8UC1 : frame_.type());
  const int w = window.width;

  thread_local RowScratch scratch;
  for (int s = 0; s < 2; ++s) {
    if (static_cast<int>(scratch.row[s].size()) < w * cn)
      scratch.row[s].resize(w * cn);
    scratch.source[s] = -1;
  }
  if (toGrey && static_cast<int>(scratch.colour.size()) < w * 3)
    scratch.colour.resize(w * 3);

  const int* first = L.columns.first.data() + window.x;
  const int* second = L.columns.second.data() + window.x;
  const short* w0 = L.columns.weight0.data() + window.x;
  const short* w1 = L.columns.weight1.data() + window.x;

  // The horizontal pass of source row `row` over [begin, end), from the
  // scratch when it already holds it; `keep` is the other row needed now.
  auto fetch = [&](int row, int keep, int begin, int end) -> const short* {
    int s = 0;
    if (scratch.source[0] == row) {
      s = 0;
    } else if (scratch.source[1] == row) {
      s = 1;
    } else {
      s = scratch.source[0] == keep ? 1 : 0;
    }
    if (scratch.source[s] == row) {
      if (scratch.begin[s] <= begin && scratch.end[s] >= end)
        return scratch.row[s].data();
      begin = std::min(begin, scratch.begin[s]);
      end = std::max(end, scratch.end[s]);
    }
    const uchar* source = frame_.ptr<uchar>(row);
    if (cn == 3) {
      horizontalPass<3>(source, first, second, w0, w1, begin, end,
                        scratch.row[s].data());
    } else {
      horizontalPass<1>(source, first, second, w0, w1, begin, end,
                        scratch.row[s].data());
    }
    scratch.source[s] = row;
    scratch.begin[s] = begin;
    scratch.end[s] = end;
    return scratch.row[s].data();
  };

  for (int r = 0; r < window.height; ++r) {
    int begin = 0;
    int end = w;
    if (spans) {
      begin = std::max((*spans)[r].begin, 0);
      end = std::min((*spans)[r].end, w);
    }
    if (begin >= end) continue;
    uchar* target = out.ptr<uchar>(r) + begin * out.channels();
    uchar* colour = toGrey ? scratch.colour.data() : target;
    const int bytes = (end - begin) * cn;
    const int y = window.y + r;

    if (L.copy) {
      std::memcpy(colour, frame_.ptr<uchar>(y) + (window.x + begin) * cn,
                  bytes);
    } else {
      const int row0 = L.rows.first[y];
      const int row1 = L.rows.second[y];
      const short* h0 = fetch(row0, row1, begin, end);
      const short* h1 = fetch(row1, row0, begin, end);
      verticalPass(h0 + begin * cn, h1 + begin * cn, L.rows.weight0[y],
                   L.rows.weight1[y], colour, bytes);
    }
    if (toGrey) greyPass(colour, target, end - begin);
  }
}

}  // namespace plenoview
