#pragma once

#include "calibration/lens_calibration.h"
#include "tests/test_support.h"
#include "tools/synth/synthesize.h"

#include <opencv2/imgcodecs.hpp>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview::synth::testing {

// A grid that is quick to draw: 9-pixel lenses (candidate sizes 3 .. 7) on a
// 120 x 96 frame, sharp, clean and without vignetting, so that a raw pixel is
// the texture itself.
inline SynthOptions plainOptions(const std::string& dir) {
  SynthOptions options;
  options.width = 120;
  options.height = 96;
  options.diameter = 9.0;
  options.views = 3;
  options.blur = 0.0;
  options.noise = 0.0;
  options.vignetting = 0.0;
  options.outputDir = dir;
  return options;
}

// What the generator wrote, read back.
struct SynthOutput {
  LensCalibration calib;
  std::vector<cv::Mat> frames;
  std::vector<cv::Mat> textures;
  std::vector<std::array<cv::Mat, 3>> patchSizes;  // [frame][lens type]
  std::string log;
};

inline SynthOutput synthesizeAndRead(const SynthOptions& options) {
  SynthOutput out;
  std::ostringstream log;
  synthesize(options, log);
  out.log = log.str();
  for (int f = 0; f < options.frames; ++f) {
    char name[96];
    std::snprintf(name, sizeof name, options.pattern.c_str(), f);
    out.frames.push_back(cv::imread(options.outputDir + "/" + name, cv::IMREAD_UNCHANGED));
    std::snprintf(name, sizeof name, "/truth/texture_f%04d.png", f);
    out.textures.push_back(cv::imread(options.outputDir + name, cv::IMREAD_UNCHANGED));
    std::array<cv::Mat, 3> sizes;
    for (int t = 0; t < 3; ++t) {
      std::snprintf(name, sizeof name, "/truth/patch_size_f%04d_t%d.png", f, t);
      sizes[t] = cv::imread(options.outputDir + name, cv::IMREAD_UNCHANGED);
    }
    out.patchSizes.push_back(sizes);
  }
  readCalibration(out.calib, out.frames.at(0), options.outputDir + "/calib.xml");
  return out;
}

}  // namespace plenoview::synth::testing
