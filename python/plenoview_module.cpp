// The Python module `plenoview`: calibrations, renderers and their views as
// NumPy arrays, with the command line's checks and messages.

#include "base/plenoview_error.h"
#include "python/array_conversion.h"
#include "python/calibration_object.h"
#include "python/frame_iterator.h"
#include "python/renderer_object.h"

#include <opencv2/core.hpp>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace py = pybind11;
using plenoview::python::CalibrationObject;
using plenoview::python::FrameIterator;
using plenoview::python::RendererObject;

namespace {

py::tuple point(const cv::Point2d& p) { return py::make_tuple(p.x, p.y); }

py::tuple arrays(const std::vector<cv::Mat>& images) {
  py::tuple out(images.size());
  for (size_t i = 0; i < images.size(); ++i) out[i] = plenoview::python::imageToArray(images[i]);
  return out;
}

const char* const kModuleDoc =
    R"(Multi-view rendering of plenoptic raw frames, views as NumPy arrays.

    calibration = plenoview.Calibration("calib.xml", (width, height))
    renderer = plenoview.Renderer(calibration, views=5)
    views = renderer.render(frame)       # frame as cv2.imread(path, cv2.IMREAD_UNCHANGED) gives it
    views[x, y]                          # the view written as Result_f<frame>_c<x:02><y:02>.png

Faults of the input raise plenoview.Error with the command line's message.)";

const char* const kCalibrationDoc =
    R"(The micro-lens grid of a calibration file, placed on frames of one size.

Calibration(path, frame_size): reads the calibration XML file at `path` (str
or path-like) for frames of frame_size = (width, height) pixels, as the
command line does with the size of its first frame. A file that cannot be
read, a missing or malformed value, or a value beyond the limits raises
plenoview.Error with the command line's message.)";

const char* const kRendererDoc = R"(Renders N x N views from raw frames, one frame after another.

Renderer(calibration, views=5, threads=None): `views` is N (1 .. 99).
`threads` sets OpenCV's number of worker threads before each render; OpenCV
keeps one pool for the whole process, so the setting stays in force for
everything else that uses OpenCV. None leaves it as it is (all cores unless
changed), as the command line does without --threads.

Like the command line, a renderer carries the patch sizes from frame to
frame: a lens for which no candidate size wins keeps the size it had in the
frame before. Render the frames of a sequence in order with one renderer to
get the command line's views.)";

const char* const kRenderDoc =
    R"(Renders one raw frame and returns its views as one uint8 array of shape
(N, N, H, W) for grey frames or (N, N, H, W, 3) for colour frames:
views[x, y] is view (x, y), the file Result_fFFFF_cXXYY.png of the command
line with XX = x and YY = y; x runs across the lens grid from left to right,
y from top to bottom. Colour channels keep the frame's order (B, G, R for a
frame from cv2.imread).

`frame` is a NumPy array as cv2.imread(path, cv2.IMREAD_UNCHANGED) gives it:
(height, width) or (height, width, channels), dtype uint8, uint16, int8,
int16, int32, float16, float32 or float64, any strides. It is brought to 8
bits with one or three channels as the command line does: alpha and
channels beyond the third dropped, 16-bit samples keep their high byte,
floating-point samples are intensities in [0, 1]. Its size must be the
calibration's frame size.

`index` and `name` only name the frame in error messages ("frame 3:
\"name\" is ..."); index defaults to the number of frames rendered so far.

`patch_sizes`, when given, is what the property patch_sizes returns (or the
command line's --save-patch-sizes files read back): three uint8 arrays
(num[1], num[0]), one per lens type. Every lens then takes its size from
there and the estimation is skipped; the views are those of the render that
chose these sizes, byte for byte.

The frame is copied first; rendering then runs without the GIL, on OpenCV's
worker threads. Raises TypeError for a dtype that holds no samples (bool,
complex, object, ...), plenoview.Error for any other fault.)";

const char* const kFramesDoc = R"(Iterates over the frames of `path` as the command line reads them.

`path` (str or path-like) is the command line's ImagePath: a printf-style
pattern of image files given the frame index ("raw/frame%04d.png"), a
lenslet video (".yuv" raw planar 4:2:0, ".y4m"), or "-" for a video on the
process's standard input (file descriptor 0, read directly). `size` and
`pixel_format` are the command line's --size and --pixel-format for a raw
video whose file name does not tell them: size (width, height) or "WxH",
pixel_format "yuv420p" (8-bit) or "yuv420p10le" (10-bit).

Frames first_frame .. first_frame + count - 1 are read; without a count,
every frame there is: up to the first frame whose file does not exist (a
pattern without a frame number is one frame), or to the end of the video.
Each frame is a NumPy array as cv2.imread(path, cv2.IMREAD_UNCHANGED) gives
it, with the depth and channels of its file; a video frame is 8-bit B, G, R
(grey for a mono Y4M). Either is ready for Renderer.render. Frames are read
without holding the GIL.

Raises plenoview.Error with the command line's message for a bad pattern or
video option, a damaged or unreadable file, a video that is malformed or
ends inside a frame, a range past the end of a video file, or a frame whose
size is not the first one's.)";

}  // namespace

PYBIND11_MODULE(plenoview, m) {
  m.doc() = kModuleDoc;

  static py::exception<plenoview::PlenoviewError> error(m, "Error");
  error.doc() = "A fault of the input: the message is the command line's for the same fault.";
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const plenoview::PlenoviewError& e) {
      error(e.what());
    } catch (const plenoview::python::ArrayError& e) {
      error(e.what());
    } catch (const cv::Exception& e) {
      error(("image processing failed: " + e.err).c_str());
    } catch (const std::bad_alloc&) {
      error("out of memory");
    }
  });

  py::class_<CalibrationObject>(m, "Calibration", kCalibrationDoc)
      .def(py::init([](const std::filesystem::path& path, std::pair<long long, long long> size) {
             return plenoview::python::loadCalibration(path.string(), size.first, size.second);
           }),
           py::arg("path"), py::arg("frame_size"))
      .def_property_readonly(
          "path", [](const CalibrationObject& c) { return c.path; }, "The calibration file.")
      .def_property_readonly(
          "frame_size",
          [](const CalibrationObject& c) {
            return py::make_tuple(c.frameSize.width, c.frameSize.height);
          },
          "(width, height) of the frames in pixels.")
      .def_property_readonly(
          "diameter", [](const CalibrationObject& c) { return c.calib.diameter; },
          "Micro-lens diameter in raw pixels.")
      .def_property_readonly(
          "radius", [](const CalibrationObject& c) { return c.calib.radius; }, "diameter / 2.")
      .def_property_readonly(
          "rotation", [](const CalibrationObject& c) { return c.calib.rotation; },
          "Grid rotation against the image axes, radians.")
      .def_property_readonly(
          "center", [](const CalibrationObject& c) { return point(c.calib.center); },
          "(x, y) of the grid centre in raw pixels, y downward.")
      .def_property_readonly(
          "num",
          [](const CalibrationObject& c) { return py::make_tuple(c.calib.num.x, c.calib.num.y); },
          "(lenses of one type per row, lens rows): the shape of patch_sizes is (num[1], "
          "num[0]).")
      .def_property_readonly(
          "offsets",
          [](const CalibrationObject& c) {
            return py::make_tuple(point(c.calib.offset[0]), point(c.calib.offset[1]),
                                  point(c.calib.offset[2]));
          },
          "Per lens type 0, 1, 2: its (x, y) offset from the file, in lens diameters.")
      .def_property_readonly(
          "sub_grid_ref_pos",
          [](const CalibrationObject& c) {
            py::tuple rows(2);
            for (int r = 0; r < 2; ++r) {
              rows[r] = py::make_tuple(point(c.calib.subGridRefPos[r][0]),
                                       point(c.calib.subGridRefPos[r][1]),
                                       point(c.calib.subGridRefPos[r][2]));
            }
            return rows;
          },
          "[row class][lens type]: (x, y) of the first lens centre; row class 0 holds the "
          "even lens rows, 1 the odd ones.")
      .def_property_readonly(
          "left_type", [](const CalibrationObject& c) { return c.roles.leftType; },
          "The lens type that sits left in the even lens rows.")
      .def_property_readonly(
          "middle_type", [](const CalibrationObject& c) { return c.roles.middleType; },
          "The lens type in the middle; its patch sizes choose the blending weights.")
      .def_property_readonly(
          "right_type", [](const CalibrationObject& c) { return c.roles.rightType; },
          "The lens type that sits right.")
      .def_property_readonly(
          "report", [](const CalibrationObject& c) { return c.calib.microLensParameterReport(); },
          "The 15-line grid report as the command line prints it, lines ended by '\\n'.")
      .def("__repr__", &plenoview::python::calibrationRepr);

  py::class_<FrameIterator>(m, "FrameIterator", "The iterator plenoview.frames returns.")
      .def("__iter__", [](FrameIterator& it) -> FrameIterator& { return it; })
      .def("__next__", &FrameIterator::next)
      .def_property_readonly("next_index", &FrameIterator::nextIndex,
                             "The index of the frame the next step reads.");
  m.def(
      "frames",
      [](const std::filesystem::path& path, int firstFrame, std::optional<int> count,
         std::optional<std::variant<std::string, std::pair<long long, long long>>> size,
         std::optional<std::string> pixelFormat) {
        std::optional<std::string> sizeText;
        if (size) {
          // A (width, height) pair is the "WxH" of --size, checked as the
          // command line checks that.
          const auto* pair = std::get_if<std::pair<long long, long long>>(&*size);
          sizeText = pair ? std::to_string(pair->first) + "x" + std::to_string(pair->second)
                          : std::get<std::string>(*size);
        }
        return FrameIterator(path.string(), firstFrame, count, sizeText, pixelFormat);
      },
      kFramesDoc, py::arg("path"), py::arg("first_frame") = 0, py::arg("count") = py::none(),
      py::arg("size") = py::none(), py::arg("pixel_format") = py::none());

  py::class_<RendererObject>(m, "Renderer", kRendererDoc)
      .def(py::init<const CalibrationObject&, int, std::optional<int>>(), py::arg("calibration"),
           py::arg("views") = 5, py::arg("threads") = py::none())
      .def("render", &RendererObject::render, kRenderDoc, py::arg("frame"), py::kw_only(),
           py::arg("index") = py::none(), py::arg("name") = py::none(),
           py::arg("patch_sizes") = py::none())
      .def_property_readonly(
          "patch_sizes", [](RendererObject& r) { return arrays(r.patchSizes()); },
          "Per lens type 0, 1, 2: a uint8 array (num[1], num[0]) of the patch size each lens "
          "uses now, [lens row, lens]; carried to the next frame. All 1 before the first frame.")
      .def_property_readonly(
          "patch_maps", [](RendererObject& r) { return arrays(r.patchMaps()); },
          "Per lens type 0, 1, 2: a uint8 array (height, width) of view_size holding each "
          "lens's patch size over its disc in view coordinates, 0 between lenses; empty "
          "before the first frame.")
      .def(
          "lens_type_views",
          [](RendererObject& r) -> py::object {
            const std::vector<cv::Mat> views = r.lensTypeViews();
            if (views.empty()) return py::none();
            const py::ssize_t n = r.views();
            return plenoview::python::stackImages(views, {3, n, n});
          },
          "The last frame's views of each lens type before blending and cropping, after the "
          "alignment: uint8 array (3, N, N, height, width[, 3]), [type, x, y], of view_size. "
          "None before the first frame.")
      .def_property_readonly(
          "messages", &RendererObject::messages,
          "The 'Out of Roi Range: ...' lines of the last render, which the command line prints "
          "on stdout: lens windows that fell outside an image and were skipped.")
      .def_property_readonly(
          "calibration", [](const RendererObject& r) { return r.calibration(); },
          "A copy of the calibration it renders with.")
      .def_property_readonly("views", &RendererObject::views, "N: views per side.")
      .def_property_readonly("threads", &RendererObject::threads,
                             "The worker threads asked for, or None.")
      .def_property_readonly(
          "view_size",
          [](const RendererObject& r) {
            return py::make_tuple(r.viewSize().width, r.viewSize().height);
          },
          "(width, height) of a view as rendered, before the crop.")
      .def_property_readonly(
          "crop",
          [](const RendererObject& r) {
            const cv::Rect c = r.crop();
            return py::make_tuple(c.x, c.y, c.width, c.height);
          },
          "(x, y, width, height): the part of a rendered view that render() returns (before "
          "the views are turned when the grid is turned by more than 45 degrees).")
      .def_property_readonly("frames_rendered", &RendererObject::framesRendered,
                             "Frames rendered so far.")
      .def("__repr__", &RendererObject::repr);
}
