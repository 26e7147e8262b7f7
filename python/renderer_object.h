#pragma once

#include "pipeline/frame_pipeline.h"
#include "python/calibration_object.h"
#include "renderer/multi_view_renderer.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace plenoview::python {

// What plenoview.Renderer holds: one MultiViewRenderer, carried from frame to
// frame as the command line carries it.
//
// Rendering runs without the GIL, so two Python threads may call into the
// same renderer at once. One mutex guards the pipeline's state; it is only
// ever taken with the GIL released, and the GIL is never taken while it is
// held, so the two locks cannot deadlock.
class RendererObject {
 public:
  // Refuses `views` outside 1 .. 99 and `threads` below 1 with the command
  // line's text; then sets the renderer up and refuses a calibration whose
  // views would be empty, as the command line does before its first frame.
  RendererObject(const CalibrationObject& calibration, int views, std::optional<int> threads);

  // Checks and copies `frame`, a NumPy array (frameFromArray), renders it without the GIL
  // and returns the cropped views as one array [x][y]. `index` and `name`
  // only name the frame in error messages; `index` defaults to the number
  // of frames rendered so far.
  // With `patchSizes` (three uint8 arrays (num[1], num[0]), one per lens
  // type, as patch_sizes gives them) every lens takes its size from there
  // instead of the estimation.
  pybind11::array_t<std::uint8_t> render(const pybind11::object& frame, std::optional<int> index,
                                         std::optional<std::string> name,
                                         const pybind11::object& patchSizes);

  // Copies of the state, taken under the lock.
  std::vector<cv::Mat> patchSizes();
  std::vector<cv::Mat> patchMaps();
  // [type][x][y] flattened, type outer; empty before the first frame.
  std::vector<cv::Mat> lensTypeViews();
  std::vector<std::string> messages();

  const CalibrationObject& calibration() const { return calibration_; }
  int views() const { return renderer_->viewNum; }
  std::optional<int> threads() const { return threads_; }
  cv::Size viewSize() const { return renderer_->viewSize; }
  cv::Rect crop() const;
  int framesRendered() const { return framesRendered_; }
  std::string repr() const;

 private:
  // Runs `f` with the GIL released and the state lock held.
  template <typename F>
  auto locked(F f) {
    const pybind11::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }

  CalibrationObject calibration_;
  std::optional<int> threads_;
  std::unique_ptr<MultiViewRenderer> renderer_;
  std::unique_ptr<FramePipeline> pipeline_;
  std::mutex mutex_;
  // Guarded by mutex_:
  bool limitsChecked_[2] = {false, false};  // [colour]
  std::vector<std::string> messages_;
  std::atomic<int> framesRendered_{0};
};

}  // namespace plenoview::python
