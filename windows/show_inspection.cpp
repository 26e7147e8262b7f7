#include "windows/show_inspection.h"

#include "windows/display.h"
#include "windows/patch_map_picture.h"

#include <opencv2/imgcodecs.hpp>

namespace plenoview {

void showInspection(const FramePipeline& pipeline) {
  // Without windows no key can arrive to end the loop.
  if (!windowsEnabled()) return;
  const MultiViewRenderer& renderer = pipeline.renderer();
  const FrameImages& images = pipeline.images();
  const cv::Mat picture = patchMapPicture(images.patchMap[0], renderer.candidatePatchSizes);
  // The key test comes first, so a second 'v' already pending ends the
  // inspection before anything is shown. Other keys are dropped: the frame
  // loop only sees keys pressed after the inspection.
  const cv::Point centre = renderer.centerView;
  while (pollKey(1) != kInspectKey) {
    showImage("rawImage", images.rawImage);
    drawCalibrationImage(renderer.calib, images.rawImage);
    showImage("patchMapVisualization", picture);
    showImage("multiViewImage[LensType][View.x][View.y]",
              images.multiViewImage[0][centre.x][centre.y]);
  }
}

void drawCalibrationImage(const LensCalibration& calib, const cv::Mat& image) {
  const cv::Mat overlay = calib.calibrationOverlay(image);
  if (overlay.empty()) return;
  showImage("drawImage", overlay);
  // The picture is a by-product for the user; a full disk or a read-only
  // directory must not end the run.
  try {
    cv::imwrite("drawImage.png", overlay);
  } catch (const cv::Exception&) {
  }
}

}  // namespace plenoview
