#include "driver/warm_up.h"

#include <utility>

namespace plenoview {

namespace {

// Gives the renderer a sink that drops its window lines while it lives, and
// gives the renderer its own sink back afterwards, also after an exception.
class DropWindowLines {
 public:
  explicit DropWindowLines(MultiViewRenderer& renderer)
      : renderer_(renderer), kept_(std::exchange(renderer.options.outOfRangeLines, LineSink())) {}
  ~DropWindowLines() { renderer_.options.outOfRangeLines = std::move(kept_); }
  DropWindowLines(const DropWindowLines&) = delete;
  DropWindowLines& operator=(const DropWindowLines&) = delete;

 private:
  MultiViewRenderer& renderer_;
  LineSink kept_;
};

}  // namespace

void warmUpPatchSizes(MultiViewRenderer& renderer, const cv::Mat& frame) {
  const DropWindowLines drop(renderer);
  renderer.loadRawImage(frame);
  renderer.prepareRawImage();
  renderer.estimatePatchSizes();
}

}  // namespace plenoview
