#include "driver/warm_up.h"

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
  renderer.loadRawImage(frame);
  renderer.prepareRawImage();
  renderer.estimatePatchSizes(renderer.centerView);
}

}  // namespace plenoview
