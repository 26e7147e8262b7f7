#pragma once

#include <string>

namespace plenoview {

// The names of the view files inside the output folder Result/, and the
// checks that let a rerun skip work already on disk.

// "Result_f<frame:04>_c<x:02><y:02>.png", or "Result_c<x:02><y:02>.png" for
// frameIndex -1. Fields widen for larger numbers (f12345, c100...).
std::string viewFileName(int frameIndex, int x, int y);

// True when every view file of frame `frameIndex` for viewNum x viewNum views
// is a whole PNG (isWholePng) in `folder`.
bool frameViewsComplete(const std::string& folder, int frameIndex, int viewNum);

// Removes from `folder` the temporary view files of frames first .. end-1 that
// runs killed while writing left behind. Returns how many were removed.
// Temporary files of other frames are left alone: another run may be writing
// them right now.
int removeLeftoverTemporaries(const std::string& folder, int first, int end);

}  // namespace plenoview
