#include "pipeline/to_eight_bit_frame.h"

#include <vector>

namespace plenoview {

namespace {

// Drops an alpha channel (and any channel beyond the third).
cv::Mat keepColourChannels(const cv::Mat& frame) {
  const int channels = frame.channels();
  if (channels == 1 || channels == 3) return frame;
  const int kept = channels == 2 ? 1 : 3;
  cv::Mat out(frame.size(), CV_MAKETYPE(frame.depth(), kept));
  std::vector<int> fromTo;
  for (int c = 0; c < kept; ++c) {
    fromTo.push_back(c);
    fromTo.push_back(c);
  }
  cv::mixChannels(&frame, 1, &out, 1, fromTo.data(), kept);
  return out;
}

template <typename T, typename Map>
cv::Mat mapSamples(const cv::Mat& frame, Map map) {
  cv::Mat out(frame.size(), CV_MAKETYPE(CV_8U, frame.channels()));
  const int samplesPerRow = frame.cols * frame.channels();
  for (int r = 0; r < frame.rows; ++r) {
    const T* in = frame.ptr<T>(r);
    uchar* o = out.ptr<uchar>(r);
    for (int i = 0; i < samplesPerRow; ++i) o[i] = map(in[i]);
  }
  return out;
}

uchar fromIntensity(double v) {
  if (!(v > 0.0)) return 0;  // negative, zero or NaN
  if (v >= 1.0) return 255;
  return static_cast<uchar>(cvRound(v * 255.0));  // ties to even
}

}  // namespace

cv::Mat toEightBitFrame(const cv::Mat& frame) {
  if (frame.empty()) return frame;
  const cv::Mat colour = keepColourChannels(frame);
  switch (colour.depth()) {
    case CV_8U:
      return colour;
    case CV_8S:
      return mapSamples<schar>(colour,
                               [](schar v) { return static_cast<uchar>(v < 0 ? 0 : v << 1); });
    case CV_16U:
      return mapSamples<ushort>(colour, [](ushort v) { return static_cast<uchar>(v >> 8); });
    case CV_16S:
      return mapSamples<short>(colour,
                               [](short v) { return static_cast<uchar>(v < 0 ? 0 : v >> 7); });
    case CV_32S:
      return mapSamples<int>(colour, [](int v) { return static_cast<uchar>(v < 0 ? 0 : v >> 23); });
    case CV_16F:
      return mapSamples<cv::float16_t>(
          colour, [](cv::float16_t v) { return fromIntensity(static_cast<float>(v)); });
    case CV_32F:
      return mapSamples<float>(colour, [](float v) { return fromIntensity(v); });
    default:  // CV_64F
      return mapSamples<double>(colour, [](double v) { return fromIntensity(v); });
  }
}

}  // namespace plenoview
