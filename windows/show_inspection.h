#pragma once

#include "calibration/lens_calibration.h"
#include "pipeline/frame_pipeline.h"

#include <opencv2/core.hpp>

namespace plenoview {

// The inspection the key 'v' opens after a frame is rendered: shows the
// frame's rawImage, the calibration overlay (drawCalibrationImage), the patch
// map picture of type 0 (patchMapPicture) and the type-0 centre view, again
// and again, until the key 'v' is read. Other keys, 'q' among them, are read
// and dropped. Returns at once when windows are off.
void showInspection(const FramePipeline& pipeline);

// Shows calib.calibrationOverlay(image) in the window "drawImage" when windows
// are on, and writes it to "drawImage.png" in the working directory, replacing
// an earlier file; a failed write goes unnoticed.
void drawCalibrationImage(const LensCalibration& calib, const cv::Mat& image);

}  // namespace plenoview
