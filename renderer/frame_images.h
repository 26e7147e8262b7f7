#pragma once

#include "calibration/lens_calibration.h"
#include "renderer/scale_level_windows.h"
#include "renderer/view_grid.h"

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// The images of one frame, from the frame turned back to the lens-type views.
// The first stages of the pipeline make them from the frame, the later ones
// read them; every frame overwrites them. They are kept from frame to frame
// only so that their memory is reused. Owned by the pipeline
// (FramePipeline); a test may make its own.
struct FrameImages {
  cv::Mat rawImage;   // the frame, 8-bit, turned back, then padded by rawBorder
  int rawBorder = 0;  // black border around rawImage: the renderer's centerView.x
  // The scale levels: level i holds rawImage scaled by lensMask width / (patch
  // size of level i). Normally every window of them is computed when it is
  // cut:
  ScaleLevelWindows scaleLevelWindows;
  // With RendererOptions::buildAllScaleLevels they are built whole instead:
  // [0][level] grey, [1][level] colour (colour frames only). Empty otherwise.
  std::vector<std::vector<cv::Mat>> scaledRawImage;
  // Per type: the renderer's viewSize, 8-bit, the patch size of the lens
  // that covers each pixel.
  cv::Mat patchMap[kLensTypes];
  // Per type: the views of that type, [lens type][view x][view y], N x N once
  // the renderer has sized them. The streamed rendering fills the centre
  // views only; the others pass through it a group at a time.
  ViewGrid multiViewImage[kLensTypes];
};

}  // namespace plenoview
