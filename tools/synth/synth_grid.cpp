#include "tools/synth/synth_grid.h"

#include "calibration/lens_type_roles.h"
#include "pipeline/load_raw_image.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>
#include <locale>
#include <sstream>

namespace plenoview::synth {

namespace {

int rowClass(int row) { return ((row % 2) + 2) % 2; }

template <typename T>
std::string shortestText(T value) {
  for (int digits = 1; digits <= std::numeric_limits<T>::max_digits10; ++digits) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(digits);
    out << value;
    std::istringstream in(out.str());
    in.imbue(std::locale::classic());
    T back = 0;
    in >> back;
    if (back == value) return out.str();
  }
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(std::numeric_limits<T>::max_digits10);
  out << value;
  return out.str();
}

}  // namespace

std::string exactNumber(double value) { return shortestText(value == 0.0 ? 0.0 : value); }
std::string exactNumber(float value) { return shortestText(value == 0.0f ? 0.0f : value); }

std::string calibrationXml(double diameter, double rotation, cv::Point2d centerOffset,
                           const cv::Point2f typeOffset[kLensTypes]) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<RayCalibData>\n";
  xml += "  <diameter>" + exactNumber(diameter) + "</diameter>\n";
  xml += "  <rotation>" + exactNumber(rotation) + "</rotation>\n";
  // The file's y offset points up, the frame's y down.
  xml += "  <offset><x>" + exactNumber(centerOffset.x) + "</x><y>" +
         exactNumber(0.0 - centerOffset.y) + "</y></offset>\n";
  for (int type = 0; type < kLensTypes; ++type) {
    xml += "  <lens_type id=\"" + std::to_string(type) + "\"><offset><x>" +
           exactNumber(typeOffset[type].x) + "</x><y>" + exactNumber(typeOffset[type].y) +
           "</y></offset></lens_type>\n";
  }
  return xml + "</RayCalibData>\n";
}

cv::Point2d LensMapping::toTexture(cv::Point2d u) const {
  const double X = (u.x + border + 0.5) * levelSize.width / paddedSize.width - 0.5;
  const double Y = (u.y + border + 0.5) * levelSize.height / paddedSize.height - 0.5;
  return {dest.x + (X - source.x) + typeShift, dest.y + (Y - source.y)};
}

SynthGrid::SynthGrid(const LensCalibration& calib, int views, cv::Size frameSize)
    : frameSize_(frameSize) {
  renderer_ = std::make_unique<MultiViewRenderer>(calib, views);
  middleType_ = lensTypeRoles(calib).middleType;
}

SynthGrid::~SynthGrid() = default;

const LensCalibration& SynthGrid::calib() const { return renderer_->calib; }
int SynthGrid::views() const { return renderer_->viewNum; }
cv::Size SynthGrid::viewSize() const { return renderer_->viewSize; }
int SynthGrid::firstCandidate() const { return renderer_->candidatePatchSizes.front(); }
int SynthGrid::lastCandidate() const { return renderer_->candidatePatchSizes.back(); }

cv::Point2d SynthGrid::lensCentre(const LensIndex& lens) const {
  return plenoview::lensCentre(renderer_->calib, lens.type, lens.row, lens.column);
}

LensIndex SynthGrid::nearestLens(cv::Point2d u) const {
  const LensCalibration& c = renderer_->calib;
  const double rowPitch = c.radius * std::sqrt(3.0);
  const int firstRow = static_cast<int>(std::floor((u.y - c.subGridRefPos[0][0].y) / rowPitch));
  LensIndex best;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (int row = firstRow; row <= firstRow + 1; ++row) {
    for (int type = 0; type < kLensTypes; ++type) {
      const double x0 = c.subGridRefPos[rowClass(row)][type].x;
      const LensIndex lens{type, row,
                           static_cast<int>(std::lround((u.x - x0) / (3.0 * c.diameter)))};
      const cv::Point2d d = u - lensCentre(lens);
      const double distance = d.x * d.x + d.y * d.y;
      if (distance < bestDistance) {
        bestDistance = distance;
        best = lens;
      }
    }
  }
  return best;
}

bool SynthGrid::rendered(const LensIndex& lens) const {
  const LensCalibration& c = renderer_->calib;
  return lens.row >= 0 && lens.row < c.num.y && lens.column >= 0 && lens.column < c.num.x;
}

cv::Point2d SynthGrid::textureCentre(const LensIndex& lens) const {
  const LensCalibration& c = renderer_->calib;
  const double border = rawBorder();
  const double g = (c.radius - renderer_->lensMargin) / c.diameter;
  const cv::Point2d ref = c.subGridRefPos[0][lens.type];
  const cv::Point2d centre = lensCentre(lens);
  const double shift = (1.0 - g) * (c.subGridRefPos[0][middleType_].x - ref.x);
  return {(centre.x + border - ref.x) * g + ref.x + shift, (centre.y + border - ref.y) * g + ref.y};
}

LensMapping SynthGrid::mapping(const LensIndex& lens, int patchSize) const {
  const MultiViewRenderer& r = *renderer_;
  const LensCalibration& c = r.calib;
  const int w = r.lensMask.cols;
  const int h = r.lensMask.rows;
  LensMapping m;
  m.patchSize = patchSize;
  const int rawBorder = this->rawBorder();
  m.border = rawBorder;
  m.paddedSize = cv::Size(frameSize_.width + 2 * rawBorder, frameSize_.height + 2 * rawBorder);

  // The patch of size s plus the margins is cut, at the size of the lens mask,
  // from the frame scaled by k = w / (s + 2 x margin), in single precision.
  const int s = patchSize + 2 * r.lensMargin;
  const float k = static_cast<float>(w) / static_cast<float>(s);
  m.levelSize =
      cv::Size(static_cast<int>(m.paddedSize.width * k), static_cast<int>(m.paddedSize.height * k));

  // Centre view: the view offset is zero and only the border moves the lens.
  const cv::Point2d centre = lensCentre(lens);
  const double px = centre.x + 0 + rawBorder;
  const double py = centre.y + 0 + rawBorder;
  m.source = cv::Point(cvRound(static_cast<double>(k) * px - w * 0.5),
                       cvRound(static_cast<double>(k) * py - h * 0.5));

  if (lens.row >= 0) {
    m.dest =
        r.viewPosition(r.lensMask.size(), lens.type, lens.row, lens.column, r.centerView, rawBorder)
            .tl();
  } else {
    // Rows above the first whole row are never rendered; only their content
    // must continue the scene, so the unrounded placement will do.
    const double g = (c.radius - r.lensMargin) / c.diameter;
    const cv::Point2d ref = c.subGridRefPos[0][lens.type];
    m.dest = cv::Point(cvRound((px - ref.x) * g + ref.x - w * 0.5),
                       cvRound((py - ref.y) * g + ref.y - h * 0.5));
  }
  const double g = (c.radius - r.lensMargin) / c.diameter;
  m.typeShift = (1.0 - g) * (c.subGridRefPos[0][middleType_].x - c.subGridRefPos[0][lens.type].x);
  return m;
}

cv::Mat SynthGrid::turnBack() const { return turnBackMatrix(renderer_->calib); }

int SynthGrid::rawBorder() const { return renderer_->centerView.x; }

}  // namespace plenoview::synth
