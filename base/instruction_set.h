#pragma once

#include <atomic>

namespace plenoview {

// The hot loops of the rendering come in two builds: one for baseline x86-64
// (SSE2), and one for AVX2 that is chosen at run time when the CPU has it.
// Both give the same bytes; the switch lets the tests run both on the same
// inputs and lets a user rule the wider one out.

namespace detail {
// Set when the process starts: the CPU has AVX2 and the environment does not
// set PLENOVIEW_BASELINE_ONLY.
extern std::atomic<bool> avx2InUse;
}  // namespace detail

// Whether the AVX2 loops are used: the CPU has AVX2, the environment does not
// set PLENOVIEW_BASELINE_ONLY, and allowAvx2(false) has not been called. One
// relaxed load: cheap enough to ask per row.
inline bool useAvx2() { return detail::avx2InUse.load(std::memory_order_relaxed); }

// Turns the AVX2 loops off (false) or back on where the CPU has them (true).
void allowAvx2(bool allowed);

}  // namespace plenoview
