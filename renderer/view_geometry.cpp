#include "renderer/view_geometry.h"

#include "base/plenoview_error.h"
#include "calibration/lens_type_roles.h"

#include <algorithm>
#include <sstream>

namespace plenoview {

namespace {

cv::Point2d middleReference(const LensCalibration& calib) {
  return calib.subGridRefPos[0][lensTypeRoles(calib).middleType];
}

// The span [from, from + length) cut to [0, limit) and trimmed to a multiple
// of 8; the length is 0 when nothing is left.
void clampToMultipleOf8(int& from, int& length, int limit) {
  const int end = std::min(from + length, limit);
  from = std::max(from, 0);
  length = std::max(end - from, 0);
  length -= length % 8;
}

}  // namespace

cv::Rect alignmentRegion(const LensCalibration& calib, cv::Size viewSize) {
  const cv::Point2d O = middleReference(calib);
  const cv::Point P(cvRound(O.x), cvRound(O.y));
  const cv::Point Q(viewSize.width - P.x, viewSize.height - P.y);
  const cv::Rect spanned(std::min(P.x, Q.x), std::min(P.y, Q.y), std::abs(P.x - Q.x),
                         std::abs(P.y - Q.y));
  return spanned & cv::Rect(cv::Point(0, 0), viewSize);
}

cv::Rect cropRectangle(const LensCalibration& calib, cv::Size viewSize) {
  const cv::Point2d O = middleReference(calib);
  const int cw = 8 * static_cast<int>((viewSize.width - 2 * O.x) * 0.125);
  const int ch = 8 * static_cast<int>((viewSize.height - 2 * O.y) * 0.125);
  if (cw <= 0 || ch <= 0) return cv::Rect();
  cv::Rect crop(cvRound(O.x), cvRound(O.y), cw, ch);
  clampToMultipleOf8(crop.x, crop.width, viewSize.width);
  clampToMultipleOf8(crop.y, crop.height, viewSize.height);
  if (crop.width == 0 || crop.height == 0) return cv::Rect();
  return crop;
}

void checkViewGeometry(const LensCalibration& calib, cv::Size viewSize) {
  if (!cropRectangle(calib, viewSize).empty()) return;
  const LensTypeRoles roles = lensTypeRoles(calib);
  const cv::Point2d O = calib.subGridRefPos[0][roles.middleType];
  std::ostringstream message;
  message << "calibration: the views of " << viewSize.width << " x " << viewSize.height
          << " pixels leave nothing to crop: the first lens of the middle lens type (lens_type id "
          << roles.middleType << ") lies at (" << O.x << ", " << O.y
          << ") with RayCalibData.diameter " << calib.diameter
          << "; check the diameter and the lens_type offsets";
  throw PlenoviewError(message.str());
}

}  // namespace plenoview
