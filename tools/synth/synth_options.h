#pragma once

#include "calibration/lens_calibration.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>

namespace plenoview::synth {

// The usage text printed by --help.
extern const char* const kSynthUsage;

// How a micro-image looks on the sensor.
enum class MicroImageLook {
  kDisc,  // round discs of the lens diameter, dark sensor between them
  kHex,   // nearly touching, slightly hexagonal micro-images
};

// How the true patch size varies over the scene (in view coordinates).
enum class DepthLayout {
  kConstant,  // every lens at the smallest size of the range
  kRamp,      // from the smallest size at the left edge of the view to the largest at the right
  kRegions,   // middle size, a disc at the smallest and a square at the largest size
};

// What the plane shows.
enum class SceneKind {
  kTextured,  // procedural texture with detail at several scales
  kWhite,     // a flat field, as taken for calibrating a camera
};

// How the frames are written.
enum class FrameFormat {
  kPng,  // one PNG file per frame, named by the pattern
  kYuv,  // all frames in one raw planar YUV 4:2:0 (I420) file
  kY4m,  // all frames in one Y4M file
};

// Everything the generator is asked for. Geometry is in raw-frame pixels
// (x right, y down) unless stated otherwise.
struct SynthOptions {
  int width = 640;
  int height = 480;
  double diameter = 17.0;
  double rotation = 0.0;           // radians; the lens grid is turned by it in the frame
  cv::Point2d centerOffset{0, 0};  // grid centre from the frame centre, y down
  // Per lens type, the offset of the calibration file in lens diameters. A
  // type's lenses in the centre row sit (x + y) diameters left of the centre,
  // so x + y must be whole and the three sums distinct modulo 3.
  cv::Point2f typeOffset[kLensTypes] = {{0.f, 0.f}, {1.f, 0.f}, {2.f, 0.f}};
  bool colour = true;
  int frames = 1;
  int views = 5;  // N of the views the ground truth is given for
  std::uint32_t seed = 1;
  double noise = 2.0;       // sensor noise, standard deviation in grey levels
  double blur = 1.5;        // defocus in raw pixels two half-ranges away from focus; 0: sharp
  double vignetting = 0.2;  // fraction of light lost at a micro-image's rim
  MicroImageLook look = MicroImageLook::kDisc;
  DepthLayout depth = DepthLayout::kRegions;
  int smallestPatch = 0;   // 0: the smallest candidate patch size
  int largestPatch = 0;    // 0: the largest candidate patch size
  cv::Point motion{0, 0};  // view pixels the plane moves per frame
  SceneKind scene = SceneKind::kTextured;
  FrameFormat format = FrameFormat::kPng;
  std::string pattern = "frame%03d.png";  // printf-style, given the frame index (PNG only)
  std::string outputDir = "synth";
  std::string previewPath;  // empty: no preview crop
  bool showHelp = false;
};

// Parses argv without any I/O. Throws UsageError naming the option and value
// at fault. Checks that need the lens grid (offsets, patch-size range) are left
// to the generator.
SynthOptions parseSynthOptions(int argc, const char* const* argv);

}  // namespace plenoview::synth
