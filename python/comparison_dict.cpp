#include "python/comparison_dict.h"

#include "base/plenoview_error.h"

#include <cmath>
#include <string>

namespace py = pybind11;

namespace plenoview::python {

namespace {

py::object number(double value) {
  if (std::isnan(value)) return py::none();
  return py::float_(value);
}

// The four figures of a row under `prefix` + y, u, v, yuv.
void putFigures(py::dict& dict, const std::string& prefix, const PlaneScores& scores) {
  dict[py::str(prefix + "y")] = number(scores.psnr[0]);
  dict[py::str(prefix + "u")] = number(scores.psnr[1]);
  dict[py::str(prefix + "v")] = number(scores.psnr[2]);
  dict[py::str(prefix + "yuv")] = number(scores.psnrYuv);
}

}  // namespace

py::dict compareToDict(const std::string& ref, const std::string& test,
                       const std::optional<std::string>& sizeText,
                       const std::optional<std::string>& pixelFormat) {
  RawVideoOptions raw;
  raw.sizeText = sizeText.value_or("");
  raw.pixelFormat = pixelFormat.value_or("");
  if (sizeText && sizeText->empty()) throw PlenoviewError("size needs a value, not \"\"");
  if (!raw.pixelFormat.empty() && raw.pixelFormat != "yuv420p" &&
      raw.pixelFormat != "yuv420p10le") {
    throw PlenoviewError("pixel_format must be yuv420p or yuv420p10le, not \"" + raw.pixelFormat +
                         "\"");
  }
  Comparison comparison;
  {
    py::gil_scoped_release released;
    comparison = compareSides(ref, test, raw);
  }
  py::dict dict;
  putFigures(dict, comparison.lenslet ? "llpsnr_" : "mvpsnr_", comparison.total);
  dict["frames"] = comparison.frames;
  if (!comparison.lenslet) {
    py::list views;
    for (const PlaneScores& scores : comparison.views) {
      py::dict view;
      view["view"] = scores.name;
      putFigures(view, "psnr_", scores);
      views.append(view);
    }
    dict["views"] = views;
  }
  return dict;
}

}  // namespace plenoview::python
