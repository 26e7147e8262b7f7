#pragma once

#include "calibration/lens_calibration.h"
#include "calibration/lens_type_roles.h"

#include <opencv2/core.hpp>

#include <string>

namespace plenoview::python {

// What plenoview.Calibration holds: the grid read from a calibration file and
// placed on frames of one size, which every frame rendered with it must have.
struct CalibrationObject {
  std::string path;
  cv::Size frameSize;
  LensCalibration calib;
  LensTypeRoles roles;
};

// Reads the calibration file at `path` for frames of `width` x `height`
// pixels. Throws PlenoviewError with the command line's text for a bad file,
// and one naming the size when it is not a frame size the command line would
// accept from a frame file (1 .. 65535 per side, 2^28 pixels in all).
CalibrationObject loadCalibration(const std::string& path, long long width, long long height);

// "<plenoview.Calibration 'calib.xml' frame_size=(512, 384) diameter=23.2 num=(7, 15)>"
std::string calibrationRepr(const CalibrationObject& calibration);

}  // namespace plenoview::python
