#pragma once

#include "tools/view/page_views.h"
#include "tools/view/patch_size_pictures.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace plenoview::view {

// What the page says about the views besides their pictures.
struct PageFacts {
  std::string title;        // the page's title, any text (escaped here)
  int viewNum = 0;          // N
  cv::Size viewSize;        // W x H of every view
  std::vector<int> frames;  // the frame indices shown, one per row of PageViews::uris
};

// The whole page, index.html: the template tools/view/view_page.html with its
// script tools/view/view_page.js, and the views (and, when `patchSizes` is
// not null, the patch-size pictures as PNG and their scale) as data: URIs in
// the JSON of its element #plenoview-data:
//
//   {"views": N, "size": [W, H], "frames": [...],
//    "images": [[uri of view (0, 0), (1, 0), ... (N-1, N-1)], ... per frame],
//    "patchSizes": null or {"low": s, "high": s, "lenses": [per row, rows],
//                           "scale": uri, "frames": [[type 0, 1, 2], ...]}}
//
// Nothing in the page is fetched from elsewhere. Throws PlenoviewError when
// a patch-size picture cannot be encoded.
std::string makePage(const PageFacts& facts, const PageViews& views,
                     const PatchSizePictures* patchSizes);

}  // namespace plenoview::view
