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

  for (int t = 0; t < 3; ++t) patchSize[t] = cv::Mat::ones(calib.num.y, calib.num.x, CV_8UC1);

  centerView = cv::Point(N / 2, N / 2);

  // A view covers the reference type's lens grid shrunk by s about its first
  // lens, plus one lens diameter, plus the view shift. The order of the terms
  // matters where the result lands on an integer.
  const double d = calib.diameter;
  const double r = calib.radius;
  const double m = lensMargin;
  const cv::Point2d ref = calib.subGridRefPos[0][lensTypeRoles(calib).rightType];
  const double x0 = ref.x;
  const double y0 = ref.y;
  const double xEnd = (calib.num.x - 1) * (d * 3) + x0;
  const double yEnd = (r * std::sqrt(3.0)) * (calib.num.y - 1) + y0;
  const double s = (r - m) / d;
  viewSize.width = static_cast<int>(std::floor(centerView.x + (s * (xEnd - x0) + x0 + d)));
  viewSize.height = static_cast<int>(std::floor(centerView.y + (s * (yEnd - y0) + y0 + d)));

  viewNum = N;
  for (int t = 0; t < 3; ++t) multiViewImage[t].assign(N, std::vector<cv::Mat>(N));
}

}  // namespace plenoview
