#include "pipeline/align_lens_types.h"

#include "calibration/lens_type_roles.h"
#include "pipeline/shifted_differences.h"
#include "renderer/view_geometry.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace plenoview {

namespace {

// `view` in grey: itself when it is grey, else converted into `grey`, whose
// memory is reused.
const cv::Mat& greyOf(const cv::Mat& view, cv::Mat& grey) {
  if (view.channels() == 1) return view;
  cv::cvtColor(view, grey, cv::COLOR_RGB2GRAY);
  return grey;
}

// One row shifted byte-wise by `shift` bytes: a shift of dx pixels moves the
// row by dx x channels bytes, and every vacated byte repeats the row's first
// byte (shift right) or last byte (shift left), whatever channel it belongs
// to. A shift of a whole row or more leaves nothing of the row but that byte.
// `in` and `out` may be the same row.
void shiftRowBytes(const uchar* in, uchar* out, size_t rowBytes, long shift) {
  if (rowBytes == 0) return;
  const size_t moved = std::min(rowBytes, static_cast<size_t>(std::abs(shift)));
  if (shift >= 0) {
    const uchar first = in[0];
    std::memmove(out + moved, in, rowBytes - moved);
    std::memset(out, first, moved);
  } else {
    const uchar last = in[rowBytes - 1];
    std::memmove(out, in + moved, rowBytes - moved);
    std::memset(out + rowBytes - moved, last, moved);
  }
}

}  // namespace

void shiftImage(const cv::Mat& source, cv::Mat& destination, cv::Point shift) {
  const int rows = source.rows;
  const size_t rowBytes = source.cols * source.elemSize();
  if (shift.y == 0) {
    destination.create(source.size(), source.type());
    // Rows stay where they are: each is moved within itself, in place when
    // destination is the source (memmove allows the overlap).
    for (int r = 0; r < rows; ++r) {
      shiftRowBytes(source.ptr<uchar>(r), destination.ptr<uchar>(r), rowBytes,
                    shift.x * static_cast<long>(source.elemSize()));
    }
    return;
  }

  // Horizontal pass into a scratch image, which keeps the source intact for
  // the vertical pass, so destination may be the source.
  cv::Mat scratch(source.size(), source.type());
  for (int r = 0; r < rows; ++r) {
    shiftRowBytes(source.ptr<uchar>(r), scratch.ptr<uchar>(r), rowBytes,
                  shift.x * static_cast<long>(source.elemSize()));
  }
  // Vertical pass by whole rows; vacated rows repeat the first or last row.
  destination.create(source.size(), source.type());
  const int dy = std::clamp(shift.y, -rows, rows);
  for (int r = 0; r < rows; ++r) {
    const int from = std::clamp(r - dy, 0, rows - 1);
    std::memcpy(destination.ptr<uchar>(r), scratch.ptr<uchar>(from), rowBytes);
  }
}

int MultiViewRenderer::measureTypeShift(const FrameImages& images) const {
  const LensTypeRoles roles = lensTypeRoles(calib);
  const cv::Point centre = centerView;

  // Per thread, kept from frame to frame, so that a frame allocates none.
  thread_local cv::Mat greys[2];
  thread_local cv::Mat base;
  const cv::Mat& ref = greyOf(images.multiViewImage[roles.leftType][centre.x][centre.y], greys[0]);
  const cv::Mat& cmp =
      greyOf(images.multiViewImage[roles.middleType][centre.x][centre.y], greys[1]);

  // Compare only the part of the left type's view inside the frame spanned by
  // the middle type's first lens and its mirror image: the margins, where the
  // types cover different ground, would count as differences at every shift.
  base.create(ref.size(), CV_8UC1);
  base.setTo(cv::Scalar::all(0));
  const cv::Rect region = alignmentRegion(calib, ref.size());
  if (!region.empty()) ref(region).copyTo(base(region));

  // The shift with the fewest differing pixels wins, the smaller on ties.
  // When no shift beats the pixel count, the types stay where they are.
  int typeShift = 0;
  int best = cmp.cols * cmp.rows;
  for (int l = 1; l < static_cast<int>(calib.diameter); ++l) {
    const int n = countShiftedDifferences(cmp, base, l);
    if (n < best) {
      best = n;
      typeShift = l;
    }
  }
  return typeShift;
}

void MultiViewRenderer::shiftLensTypes(const std::array<cv::Mat*, kLensTypes>& typeViews,
                                       int typeShift) const {
  const LensTypeRoles roles = lensTypeRoles(calib);
  cv::Mat& left = *typeViews[roles.leftType];
  shiftImage(left, left, cv::Point(typeShift, 0));
  // A role that fell back to the same type as the left one is shifted once.
  if (roles.rightType == roles.leftType) return;
  cv::Mat& right = *typeViews[roles.rightType];
  shiftImage(right, right, cv::Point(-typeShift, 0));
}

void MultiViewRenderer::alignLensTypes(FrameImages& images) const {
  const int typeShift = measureTypeShift(images);
  ViewGrid(&views)[kLensTypes] = images.multiViewImage;
  for (int x = 0; x < viewNum; ++x) {
    for (int y = 0; y < viewNum; ++y) {
      shiftLensTypes({&views[0][x][y], &views[1][x][y], &views[2][x][y]}, typeShift);
    }
  }
}

}  // namespace plenoview
