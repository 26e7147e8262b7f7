#include "renderer/multi_view_renderer.h"

#include "calibration/lens_type_roles.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <utility>

namespace plenoview {

namespace {

// The filled micro-image disc in an all-zero square 8-bit `mask`: centre
// (w/2, h/2) in pixel-centre coordinates, half a pixel right of and below the
// mask's middle, radius w/2. With 4 fractional bits this is exact for every
// whole-pixel size.
void drawLensMask(cv::Mat& mask) {
  const int w = mask.cols;
  const int h = mask.rows;
  const cv::Point centre(cvRound(w * 0.5 * 16), cvRound(h * 0.5 * 16));
  const int radius = static_cast<int>(w * 0.5 * 16);
  cv::circle(mask, centre, radius, cv::Scalar::all(255), -1, cv::LINE_8, 4);
}

}  // namespace

MultiViewRenderer::MultiViewRenderer(LensCalibration handed, int N, RendererOptions chosen)
    : options(std::move(chosen)), calib(std::move(handed)) {
  const int D = static_cast<int>(calib.diameter);
  lensMask = cv::Mat::zeros(D, D, CV_8UC1);
  drawLensMask(lensMask);

  // The rim mask: every pixel where the aperture-3 Laplacian of the disc,
  // padded by one black pixel, is non-zero, on both sides of the rim.
  cv::Mat padded;
  cv::copyMakeBorder(lensMask, padded, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  cv::Laplacian(padded, lensEdgeMask, CV_8U, 3, 1.0, 127.0);
  cv::compare(lensEdgeMask, 127.0, lensEdgeMask, cv::CMP_NE);

  lensMargin = 1;
  patchSizeStep = 1;

  const int largest = static_cast<int>(calib.diameter - 2 * lensMargin);
  for (int c = 3; c <= largest; c += patchSizeStep) candidatePatchSizes.push_back(c);

  for (cv::Mat& sizes : patchSize) sizes = cv::Mat::ones(calib.num.y, calib.num.x, CV_8UC1);

  centerView = cv::Point(N / 2, N / 2);

  // A view covers the reference type's lens grid shrunk by s about its first
  // lens, plus one lens diameter, plus the view shift. The order of the terms
  // matters where the result lands on an integer: the last lens's centre is
  // formed first and the first lens's subtracted from it again.
  const double d = calib.diameter;
  const double r = calib.radius;
  const double m = lensMargin;
  const int ref = lensTypeRoles(calib).rightType;
  const cv::Point2d first = lensCentre(calib, ref, 0, 0);
  const double xEnd = lensCentre(calib, ref, 0, calib.num.x - 1).x;
  const double yEnd = lensCentre(calib, ref, calib.num.y - 1, 0).y;
  const double s = (r - m) / d;
  viewSize.width =
      static_cast<int>(std::floor(centerView.x + (s * (xEnd - first.x) + first.x + d)));
  viewSize.height =
      static_cast<int>(std::floor(centerView.y + (s * (yEnd - first.y) + first.y + d)));

  viewNum = N;
}

void MultiViewRenderer::usePatchSizes(const PatchSizes& sizes) {
  for (int type = 0; type < kLensTypes; ++type) {
    CV_Assert(sizes[type].size() == patchSize[type].size() && sizes[type].type() == CV_8UC1);
    sizes[type].copyTo(patchSize[type]);
  }
}

}  // namespace plenoview
