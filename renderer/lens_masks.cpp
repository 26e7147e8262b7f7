#include "renderer/multi_view_renderer.h"

#include <opencv2/imgproc.hpp>

namespace plenoview {

// The disc is centred at (w/2, h/2) in pixel-centre coordinates, half a pixel
// right of and below the mask's middle: with 4 fractional bits this is exact
// for every whole-pixel size.
void MultiViewRenderer::drawLensMask(cv::Mat& mask) const {
  const int w = mask.cols;
  const int h = mask.rows;
  const cv::Point centre(cvRound(w * 0.5 * 16), cvRound(h * 0.5 * 16));
  const int radius = static_cast<int>(w * 0.5 * 16);
  cv::circle(mask, centre, radius, cv::Scalar::all(255), -1, cv::LINE_8, 4);
}

}  // namespace plenoview
