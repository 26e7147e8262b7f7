#include "calibration/lens_calibration.h"

#include "base/plenoview_error.h"
#include "calibration/calibration_limits.h"

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <cmath>
#include <string>

namespace plenoview {

namespace {

using boost::property_tree::ptree;

// The diameter bounds: below 6 there are fewer than two candidate patch sizes
// (the blending weights would divide by zero); from 258 on the largest
// candidate no longer fits the 8-bit patch-size tables.
constexpr double kMinDiameter = 6.0;
constexpr double kMaxDiameter = 258.0;

// Reads the value at `key` below `node` as T. The whole text must convert
// (blanks around it allowed); otherwise the error names the file and `name`,
// the key's full path for the user.
template <typename T>
T readValue(const ptree& node, const std::string& key, const std::string& file,
            const std::string& name) {
  const boost::optional<const ptree&> child = node.get_child_optional(key);
  if (!child) throw PlenoviewError("calibration file \"" + file + "\": " + name + " is missing");
  const boost::optional<T> value = child->get_value_optional<T>();
  if (!value) {
    throw PlenoviewError("calibration file \"" + file + "\": " + name + ": \"" + child->data() +
                         "\" is not " +
                         (std::is_same<T, int>::value ? "a whole number" : "a number"));
  }
  return *value;
}

}  // namespace

void readCalibration(LensCalibration& calib, const cv::Mat& image, const std::string& path) {
  readCalibration(calib, image.size(), path);
}

void readCalibration(LensCalibration& calib, cv::Size frameSize, const std::string& path) {
  checkCalibrationFile(path);
  ptree tree;
  try {
    boost::property_tree::read_xml(path, tree);
  } catch (const boost::property_tree::xml_parser_error& e) {
    const std::string why =
        e.message() == "cannot open file"
            ? "cannot be opened"
            : "is not well-formed XML (line " + std::to_string(e.line()) + ": " + e.message() + ")";
    throw PlenoviewError("calibration file \"" + path + "\" " + why);
  }
  const boost::optional<ptree&> root = tree.get_child_optional("RayCalibData");
  if (!root) throw PlenoviewError("calibration file \"" + path + "\": RayCalibData is missing");

  const double D = readValue<double>(*root, "diameter", path, "RayCalibData.diameter");
  if (!(D >= kMinDiameter && D < kMaxDiameter)) {
    throw PlenoviewError("calibration file \"" + path + "\": RayCalibData.diameter " +
                         formatValue(D) + " is outside the supported range [6, 258)");
  }
  calib.diameter = D;
  calib.rotation = readValue<double>(*root, "rotation", path, "RayCalibData.rotation");
  checkRotation(calib.rotation, path);
  const double r = D * 0.5;
  calib.radius = r;
  const double W = frameSize.width;
  const double H = frameSize.height;
  calib.center.x = W * 0.5 + readValue<double>(*root, "offset.x", path, "RayCalibData.offset.x");
  calib.center.y = H * 0.5 - readValue<double>(*root, "offset.y", path, "RayCalibData.offset.y");
  // Inside the frame, the centre keeps every lens count below in int range.
  checkGridCentre(calib.center, r, frameSize, path);

  int lensTypeCount = 0;
  for (const ptree::value_type& child : *root) {
    if (child.first != "lens_type") continue;
    const std::string name = "RayCalibData.lens_type #" + std::to_string(++lensTypeCount);
    const float vx = readValue<float>(child.second, "offset.x", path, name + " offset.x");
    checkLensTypeOffset(vx, name + " offset.x", path);
    const int id = readValue<int>(child.second, "<xmlattr>.id", path, name + " attribute id");
    if (id < 0 || id > 2) {
      throw PlenoviewError("calibration file \"" + path + "\": " + name + " attribute id " +
                           std::to_string(id) + " is not a lens type (0, 1 or 2)");
    }
    calib.offset[id].x = vx;
    const float vy = readValue<float>(child.second, "offset.y", path, name + " offset.y");
    checkLensTypeOffset(vy, name + " offset.y", path);
    calib.offset[id].y = vy;
  }

  const double cx = calib.center.x;
  const double cy = calib.center.y;
  const double s = std::sqrt(3.0);

  // Lens rows above and below the centre row that lie wholly in the frame.
  const int above = static_cast<int>((cy - r) / (s * r));
  const int below = static_cast<int>((H - (r + cy)) / (s * r));
  calib.num.y = above + below + 1;

  // Lens columns: a remainder of more than half a pitch on the left, or at
  // least half on the right, holds one more lens.
  const double left = (cx - r) / D;
  const double right = (W - (cx + r)) / D;
  const int L = static_cast<int>(left);
  const int R = static_cast<int>(right);
  const int columns = (left - L > 0.5 || right - R >= 0.5) ? L + R + 1 : L + R;
  calib.num.x = columns / 3;
  checkLensGrid(calib, frameSize, path);

  const int p = above % 2;  // row class of the centre row
  const int q = std::abs(p - 1);
  for (int type = 0; type < kLensTypes; ++type) {
    // Each reference is brought back to the first lens of its type and row
    // class at or after a radius from the left and top edges.
    const double K = cx - (calib.offset[type].x + calib.offset[type].y) * D;
    calib.subGridRefPos[p][type].x = K - static_cast<int>((K - r) / (3 * D)) * 3 * D;
    calib.subGridRefPos[p][type].y = cy - static_cast<int>((cy - r) / (s * D)) * s * D;
    const double O = K - (r + D);
    calib.subGridRefPos[q][type].x = O - static_cast<int>((O - r) / (3 * D)) * 3 * D;
    const double Y = cy - s * r;
    calib.subGridRefPos[q][type].y = Y - static_cast<int>((Y - r) / (s * D)) * s * D;
  }
}

}  // namespace plenoview
