#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

#include <array>
#include <map>
#include <string>
#include <vector>

namespace plenoview::quality {

// How well the pipeline gives back a generated scene. Everything here reads a
// folder that plenoview-synth wrote (frames, calibration and ground truth) and
// runs the library's own stages on it; the numbers are measurements, not
// targets the stages are tuned toward.

// A folder written by plenoview-synth, read back.
struct GeneratedSet {
  LensCalibration calib;                     // calib.xml, read for frame 0's size
  int views = 0;                             // N the ground truth is given for (scene.txt "views")
  double typeShift[kLensTypes] = {0, 0, 0};  // scene.txt "type_shift t"
  std::vector<cv::Mat> frames;               // as read from disk
  std::vector<cv::Mat> textures;             // truth/texture_fFFFF.png
  std::vector<PatchSizes> truePatchSizes;    // truth/patch_size_fFFFF_tT.png
};

// Reads calib.xml, truth/scene.txt ("frames", "views" and the three
// "type_shift" lines), the frames named by `pattern` and the truth images.
// Throws PlenoviewError naming the file or key that is missing.
GeneratedSet readGeneratedSet(const std::string& folder,
                              const std::string& pattern = "frame%03d.png");

// Sum of squared differences between the samples of an 8-bit image and a
// reference of doubles (same size and channels) inside `region`, gathered
// over any number of images.
struct SquaredError {
  double sum = 0;
  long long samples = 0;

  void add(const cv::Mat& image, const cv::Mat& reference, const cv::Rect& region);

  // 10 x log10(255^2 / (sum / samples)) in dB; +infinity when nothing
  // differs, NaN when no sample was added.
  double psnr() const;
};

// The texture as a view shifted by `shift` pixels shows it: result(x, y) =
// texture(x + shift, y), linear between the two neighbouring columns, in
// doubles (CV_64F with the texture's channels). Columns whose sample falls
// outside the texture repeat the nearest edge column; keep them out of any
// comparison (see coveredInterior).
cv::Mat shiftedTexture(const cv::Mat& texture, double shift);

// The part of lens type `type`'s centre view that its lenses cover well: the
// rectangle spanned by the centres of its rendered lenses in that view (the
// first and last row; of the two row parities the later first lens and the
// earlier last lens), shrunk by a lens radius on every side, and cut to the
// columns x whose texture sample x + `shift` lies inside [0, view width - 1].
// Empty when nothing is left.
cv::Rect coveredInterior(const MultiViewRenderer& renderer, int type, double shift);

// Lenses compared: the rendered lenses of a type without its first and last
// lens row and its first and last lens column, whose estimate leans on
// neighbours that are missing or cut by the frame edge.
bool interiorLens(const LensCalibration& calib, int row, int column);

// Per true patch size: interior lenses, and how many of them were estimated
// exactly or within one candidate step.
struct SizeCount {
  int lenses = 0;
  int exact = 0;
  int withinOneStep = 0;
};
using SizeTable = std::map<int, SizeCount>;  // by true patch size

// Adds every interior lens of one type to `table`: `estimated` and `truth`
// are num.y x num.x 8-bit tables, `step` the distance between candidates.
void countEstimates(const LensCalibration& calib, const cv::Mat& estimated, const cv::Mat& truth,
                    int step, SizeTable& table);

// Centre views of the three lens types at the true patch sizes, against the
// texture moved by each type's shift, over coveredInterior. All frames.
struct TrueSizeQuality {
  SquaredError type[kLensTypes];
  cv::Rect region[kLensTypes];  // of the last frame
};
TrueSizeQuality measureTrueSizeViews(const GeneratedSet& set);

// The full pipeline, frame after frame on one renderer as plenoview runs it:
// the estimated sizes against the truth, and the blended, cropped centre view
// against the texture under the same crop (and turn).
struct EstimationQuality {
  SizeTable type[kLensTypes];
  SquaredError blended;
};
EstimationQuality measureEstimation(const GeneratedSet& set);

}  // namespace plenoview::quality
