#pragma once

#include <string>

namespace plenoview {

// Checks that a user's printf-style pattern is safe to format with one int:
// literal text, "%%", and at most one conversion d, i, o, u, x or X with
// optional flags (-+ #0), width and precision digits. Throws UsageError naming
// the pattern otherwise.
void checkFramePattern(const std::string& pattern);

// Formats a checked pattern with `index`, at any length.
std::string formatPath(const std::string& pattern, int index);

}  // namespace plenoview
