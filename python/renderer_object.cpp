#include "python/renderer_object.h"

#include "base/plenoview_error.h"
#include "calibration/calibration_limits.h"
#include "python/array_conversion.h"
#include "renderer/render_limits.h"
#include "renderer/set_up_renderer.h"
#include "renderer/view_geometry.h"

#include <opencv2/core/utility.hpp>

#include <limits>
#include <sstream>
#include <utility>

namespace py = pybind11;

namespace plenoview::python {

namespace {

std::vector<cv::Mat> clones(const cv::Mat* images, int count) {
  std::vector<cv::Mat> out;
  for (int i = 0; i < count; ++i) out.push_back(images[i].clone());
  return out;
}

}  // namespace

RendererObject::RendererObject(const CalibrationObject& calibration, int views,
                               std::optional<int> threads)
    : calibration_(calibration), threads_(threads) {
  if (threads && *threads < 1) {
    throw PlenoviewError("threads must be at least 1, not " + std::to_string(*threads));
  }
  // The window lines of a render are kept for the `messages` attribute. The
  // sink runs on the thread that renders, with the state lock held (the
  // renderer passes on the lines of its worker threads once they are done).
  RendererOptions options;
  options.outOfRangeLines = [this](const std::string& line) { messages_.push_back(line); };
  // The view sides and scaled frame sides as the command line checks them
  // before its first frame; the memory for one frame is checked at the first
  // frame of each kind (grey or colour), when it is known which one counts.
  RendererChecks checks;
  checks.calibPath = calibration_.path;
  checks.frameSize = calibration_.frameSize;
  checks.memoryBudgetBytes = std::numeric_limits<double>::infinity();
  checks.viewNumName = "views";
  renderer_ = setUpRenderer(calibration_.calib, views, std::move(options), checks);
  pipeline_ = std::make_unique<FramePipeline>(*renderer_);
}

namespace {

// Three uint8 arrays of the lens grid's shape, copied, or a PlenoviewError
// that names what is wrong.
PatchSizes patchSizesFrom(const py::object& given, cv::Size lenses) {
  const std::string wanted = "a uint8 array of shape (" + std::to_string(lenses.height) + ", " +
                             std::to_string(lenses.width) + ")";
  if (!py::isinstance<py::sequence>(given) || py::len(given) != kLensTypes) {
    throw PlenoviewError("patch_sizes must be a sequence of 3 arrays, one per lens type, each " +
                         wanted);
  }
  PatchSizes sizes;
  const py::sequence items = py::reinterpret_borrow<py::sequence>(given);
  for (int type = 0; type < kLensTypes; ++type) {
    const py::object item = items[type];
    const auto array = py::isinstance<py::array_t<std::uint8_t>>(item)
                           ? py::array_t<std::uint8_t>::ensure(item)
                           : py::array_t<std::uint8_t>();
    if (!array || array.ndim() != 2 || array.shape(0) != lenses.height ||
        array.shape(1) != lenses.width) {
      throw PlenoviewError(
          "patch_sizes[" + std::to_string(type) + "] must be " + wanted + ", not " +
          py::cast<std::string>(py::repr(py::getattr(item, "shape", py::none()))) + " " +
          py::cast<std::string>(py::str(py::getattr(item, "dtype", item.get_type()))));
    }
    sizes[type].create(lenses, CV_8UC1);
    for (int row = 0; row < lenses.height; ++row) {
      for (int column = 0; column < lenses.width; ++column) {
        sizes[type].at<uchar>(row, column) = array.at(row, column);
      }
    }
  }
  return sizes;
}

}  // namespace

py::array_t<std::uint8_t> RendererObject::render(const py::object& frameObject,
                                                 std::optional<int> index,
                                                 std::optional<std::string> name,
                                                 const py::object& patchSizes) {
  // Taken as any object so that a list or a scalar gets a message of ours
  // rather than pybind11's list of signatures.
  if (!py::isinstance<py::array>(frameObject)) {
    throw py::type_error("a frame is a NumPy array, not " +
                         py::cast<std::string>(py::type::of(frameObject).attr("__name__")));
  }
  cv::Mat frame =
      frameFromArray(py::reinterpret_borrow<py::array>(frameObject), name.value_or("<array>"),
                     index.value_or(framesRendered_.load()), calibration_.frameSize);
  const bool colour = frame.channels() >= 3;
  const bool given = !patchSizes.is_none();
  const PatchSizes sizes =
      given ? patchSizesFrom(patchSizes, {calibration_.calib.num.x, calibration_.calib.num.y})
            : PatchSizes();
  ViewGrid viewGrid = locked([&] {
    if (!limitsChecked_[colour]) {
      checkRenderLimits(*renderer_, calibration_.frameSize, colour, calibration_.path);
      limitsChecked_[colour] = true;
    }
    if (threads_) cv::setNumThreads(*threads_);
    ViewGrid grid;
    // A render that fails keeps the lines it got to.
    messages_.clear();
    pipeline_->processFrame(std::move(frame), grid, given ? &sizes : nullptr);
    ++framesRendered_;
    return grid;
  });
  const py::ssize_t n = renderer_->viewNum;
  return stackImages(flattenGrid(viewGrid), {n, n});
}

std::vector<cv::Mat> RendererObject::patchSizes() {
  return locked([&] { return clones(renderer_->patchSize.data(), kLensTypes); });
}

std::vector<cv::Mat> RendererObject::patchMaps() {
  return locked([&] { return clones(pipeline_->images().patchMap, kLensTypes); });
}

std::vector<cv::Mat> RendererObject::lensTypeViews() {
  return locked([&] {
    std::vector<cv::Mat> views;
    if (framesRendered_ == 0) return views;
    for (const ViewGrid& grid : pipeline_->images().multiViewImage) {
      for (const cv::Mat& view : flattenGrid(grid)) views.push_back(view.clone());
    }
    return views;
  });
}

std::vector<std::string> RendererObject::messages() {
  return locked([&] { return messages_; });
}

cv::Rect RendererObject::crop() const {
  return cropRectangle(renderer_->calib, renderer_->viewSize);
}

std::string RendererObject::repr() const {
  std::ostringstream text;
  text << "<plenoview.Renderer '" << calibration_.path << "' views=" << views() << " view_size=("
       << viewSize().width << ", " << viewSize().height << ") frames_rendered=" << framesRendered()
       << ">";
  return text.str();
}

}  // namespace plenoview::python
