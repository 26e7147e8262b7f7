#include "windows/show_inspection.h"

#include "windows/display.h"

#include <opencv2/imgcodecs.hpp>

namespace plenoview {

void showInspection(MultiViewRenderer& renderer) {
  // Without windows no key can arrive to end the loop.
  if (!windowsEnabled()) return;
  // The key test comes first, so a second 'v' already pending ends the
  // inspection before anything is shown. Other keys are dropped: the frame
  // loop only sees keys pressed after the inspection.
  const cv::Point centre = renderer.centerView;
  while (pollKey(1) != kInspectKey) {
    showImage("rawImage", renderer.rawImage);
    drawCalibrationImage(renderer.calib, renderer.rawImage);
    renderer.visualizePatchMap();
    showImage("patchMapVisualization", renderer.patchMapVis[0]);
    showImage("multiViewImage[LensType][View.x][View.y]",
              renderer.multiViewImage[0][centre.x][centre.y]);
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
