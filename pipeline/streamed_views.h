#pragma once

#include "renderer/frame_images.h"
#include "renderer/multi_view_renderer.h"
#include "renderer/view_grid.h"

#include <opencv2/core.hpp>

#include <vector>

namespace plenoview {

// The grid in groups: each grid row cut into runs of at most `most` views,
// as even as they go; y outer, x inner.
std::vector<std::vector<cv::Point>> viewGroups(int N, int most);

// The streamed rendering of a frame's views, with the same bytes as the whole
// grid's: the centre views of the three types are rendered into the frame's
// multiViewImage and the alignment's shift measured on them; then the views
// go through rendering, shift, blending, crop and turn a group at a time
// (viewGroups with kViewsPerGroup) and each group is handed to the sink
// before the next is rendered. A frame so holds the three centre views and a
// few groups' images, whatever N. The window lines are those of the whole
// rendering, in its order, passed on before the first view is rendered.
//
// Holds the groups' images, kept from group to group and frame to frame so
// that their memory is reused.
class StreamedViews {
 public:
  // Renders the views of the frame in `images` (turned back, prepared, patch
  // sizes chosen, patch maps built) and hands them to `finished`.
  // renderer.options.stepDone sees the rendering's steps once for the centre
  // views and again for every group.
  void render(const MultiViewRenderer& renderer, FrameImages& images,
              const ViewGroupSink& finished);

 private:
  // One group's lens-type views other than the centre's, [type][i].
  std::vector<cv::Mat> typeViews_[kLensTypes];
  // kGroupSets groups' blended and turned views, used in turn, so that a
  // group's views stay as they are while the sink may still read them.
  std::vector<cv::Mat> blended_;
  std::vector<cv::Mat> turned_;
  // Which set the next group takes. Carried from frame to frame: a frame's
  // first groups must not take the sets of the frame before's last groups,
  // whose views may still be being written.
  int groupSet_ = 0;
};

}  // namespace plenoview
