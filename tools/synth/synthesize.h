#pragma once

#include "tools/synth/synth_options.h"

#include <ostream>

namespace plenoview::synth {

// Writes, into options.outputDir:
//   calib.xml                          the calibration file of the grid
//   <pattern with the frame index>     the raw frames, PNG, or with --format yuv|y4m
//   synth_<W>x<H>_<F>frames_8bit_yuv420.yuv|y4m   all raw frames in one video
//   truth/texture_fFFFF.png            the texture as frame FFFF's centre view shows it
//   truth/patch_size_fFFFF_tT.png      true patch size of every lens of type T,
//                                      num.y rows x num.x columns, 8-bit
//   truth/scene.txt                    sizes, type shifts and ranges, one per line
// and the preview crop when asked. Progress lines go to `out`. Throws
// UsageError when the options describe no usable grid, PlenoviewError when a
// file cannot be written.
void synthesize(const SynthOptions& options, std::ostream& out);

// The whole program: parses argv, prints the usage on --help, synthesizes,
// and reports an error as one line "plenoview-synth: <message>" on stderr.
// Returns the exit status: 0, 1 (a file could not be written), 2 (bad options).
int runSynth(int argc, const char* const* argv);

}  // namespace plenoview::synth
