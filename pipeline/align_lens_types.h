#pragma once

#include "renderer/multi_view_renderer.h"

#include <opencv2/core.hpp>

namespace plenoview {

// MultiViewRenderer::alignLensTypes(images): measures the horizontal shift
// between the lens types on the centre views and shifts every left-type view
// of images.multiViewImage right and every right-type view left by it, in
// place. In two halves, for the streamed rendering:
//
// MultiViewRenderer::measureTypeShift(images): reads calib and the centre
// views of the left and middle types. Shifts 1 .. trunc(diameter) - 1 are
// tried on their grey forms (COLOR_RGB2GRAY of the B, G, R views, as the
// defined output computes it, byte for byte), over alignmentRegion; the one
// with the fewest differing pixels wins, the smaller on ties. When none
// differs in fewer pixels than the view has, the shift is 0.
//
// MultiViewRenderer::shiftLensTypes(typeViews, typeShift): the left type's
// view of one view right by typeShift and the right type's left (shiftImage);
// a right role that fell back to the left type is shifted once.

// Shifts a continuous 8-bit image by whole pixels, byte-wise: vacated bytes
// of a row take the row's first byte (shift right) or last byte (shift left);
// vacated rows repeat the first or last row; a shift of the whole width or
// height or more leaves only that byte or row. source and destination may be
// the same image. The alignment moves the outer lens types' views with it.
void shiftImage(const cv::Mat& source, cv::Mat& destination, cv::Point shift);

}  // namespace plenoview
