#include "driver/warm_up.h"

#include <opencv2/imgproc.hpp>

#include <iostream>
#include <streambuf>

namespace plenoview {

namespace {

// Swallows everything written to it.
class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Points std::cout at a DiscardBuffer while it lives.
class SilenceStdout {
 public:
  SilenceStdout() : saved_(std::cout.rdbuf(&discard_)) {}
  ~SilenceStdout() { std::cout.rdbuf(saved_); }

 private:
  DiscardBuffer discard_;
  std::streambuf* saved_;
};

}  // namespace

void warmUpPatchSizes(MultiViewRenderer& renderer, const cv::Mat& frame) {
  std::cout.flush();
  const SilenceStdout silence;
  renderer.rawImage = frame.clone();

  // The same turn as processFrame's, which this must match to the bit.
  const cv::Point2f centre(static_cast<float>(renderer.calib.center.x),
                           static_cast<float>(renderer.calib.center.y));
  const double angle = renderer.calib.rotation * -180.0 / 3.14159265;
  const cv::Mat rotation = cv::getRotationMatrix2D(centre, angle, 1.0);
  cv::warpAffine(renderer.rawImage, renderer.rawImage, rotation, renderer.rawImage.size(),
                 cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));

  renderer.prepareRawImage();
  renderer.estimatePatchSizes(renderer.centerView);
}

}  // namespace plenoview
