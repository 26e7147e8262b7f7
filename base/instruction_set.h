#pragma once

namespace plenoview {

// The hot loops of the rendering come in two builds: one for baseline x86-64
// (SSE2), and one for AVX2 that is chosen at run time when the CPU has it.
// Both give the same bytes; the switch lets the tests run both on the same
// inputs and lets a user rule the wider one out.

// Whether the AVX2 loops are used: the CPU has AVX2, the environment does not
// set PLENOVIEW_BASELINE_ONLY, and allowAvx2(false) has not been called.
// Cheap enough to ask once per call of a loop, not per pixel.
bool useAvx2();

// Turns the AVX2 loops off (false) or back on where the CPU has them (true).
void allowAvx2(bool allowed);

}  // namespace plenoview
