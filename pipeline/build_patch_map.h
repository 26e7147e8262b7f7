#pragma once

#include "renderer/multi_view_renderer.h"

namespace plenoview {

// MultiViewRenderer::buildPatchMap(images, lines): reads patchSize, calib,
// lensMask, viewSize. Writes images.patchMap[type] (viewSize, 8-bit): each
// lens's patch size painted as a lensMask disc at viewPosition (no view
// shift, no border), merged with mergePatch at alpha 0.5, so that where discs
// of one type overlap each later lens averages with what is there. Lenses
// are taken type, lens row, column; a disc that leaves the map is skipped
// with its line to `lines`.

}  // namespace plenoview
