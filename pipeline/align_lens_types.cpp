#include "pipeline/align_lens_types.h"

#include "calibration/lens_type_roles.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/view_geometry.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

namespace plenoview {

namespace {

// A grey image of `view`: the view itself when it has one channel, a new
// converted image otherwise. The view is never changed.
cv::Mat greyOf(const cv::Mat& view) {
  if (view.channels() == 1) return view;
  cv::Mat grey;
  cv::cvtColor(view, grey, cv::COLOR_RGB2GRAY);
  return grey;
}

}  // namespace

void shiftImage(const cv::Mat& source, cv::Mat& destination, cv::Point shift) {
  const int rows = source.rows;
  const size_t rowBytes = source.cols * source.elemSize();

  // Horizontal pass, byte-wise: a shift of dx pixels moves the row by
  // dx x channels bytes, and every vacated byte repeats the row's first byte
  // (shift right) or last byte (shift left), whatever channel it belongs to.
  // A shift of a whole row or more leaves nothing of the row but that byte.
  cv::Mat scratch(source.size(), source.type());
  const size_t moved =
      std::min(rowBytes, static_cast<size_t>(std::abs(shift.x)) * source.elemSize());
  for (int r = 0; r < rows; ++r) {
    const uchar* in = source.ptr<uchar>(r);
    uchar* out = scratch.ptr<uchar>(r);
    if (rowBytes == 0) continue;
    if (shift.x >= 0) {
      std::memset(out, in[0], moved);
      std::memcpy(out + moved, in, rowBytes - moved);
    } else {
      std::memcpy(out, in + moved, rowBytes - moved);
      std::memset(out + rowBytes - moved, in[rowBytes - 1], moved);
    }
  }

  // Vertical pass by whole rows; vacated rows repeat the first or last row.
  // The scratch keeps the source intact, so destination may be the source.
  destination.create(source.size(), source.type());
  const int dy = std::clamp(shift.y, -rows, rows);
  for (int r = 0; r < rows; ++r) {
    const int from = std::clamp(r - dy, 0, rows - 1);
    std::memcpy(destination.ptr<uchar>(r), scratch.ptr<uchar>(from), rowBytes);
  }
}

void MultiViewRenderer::alignLensTypes() {
  const LensTypeRoles roles = lensTypeRoles(calib);

  const cv::Mat ref = greyOf(multiViewImage[roles.leftType][centerView.x][centerView.y]);
  const cv::Mat cmp = greyOf(multiViewImage[roles.middleType][centerView.x][centerView.y]);

  // Compare only the part of the left type's view inside the frame spanned by
  // the middle type's first lens and its mirror image: the margins, where the
  // types cover different ground, would count as differences at every shift.
  cv::Mat base = cv::Mat::zeros(ref.size(), CV_8UC1);
  const cv::Rect region = alignmentRegion(calib, ref.size());
  if (!region.empty()) ref(region).copyTo(base(region));

  // The shift with the fewest differing pixels wins, the smaller on ties.
  // When no shift beats the pixel count, the types stay where they are.
  int typeShift = 0;
  int best = cmp.cols * cmp.rows;
  cv::Mat shifted;
  cv::Mat difference;
  for (int l = 1; l < static_cast<int>(calib.diameter); ++l) {
    shiftImage(base, shifted, cv::Point(l, 0));
    cv::absdiff(cmp, shifted, difference);
    const int n = cv::countNonZero(difference);
    if (n < best) {
      best = n;
      typeShift = l;
    }
  }

  for (int x = 0; x < viewNum; ++x) {
    for (int y = 0; y < viewNum; ++y) {
      for (int L = 0; L < 3; ++L) {
        cv::Mat& view = multiViewImage[L][x][y];
        if (L == roles.leftType) {
          shiftImage(view, view, cv::Point(typeShift, 0));
        } else if (L == roles.rightType) {
          shiftImage(view, view, cv::Point(-typeShift, 0));
        }
      }
    }
  }
}

}  // namespace plenoview
