#pragma once

#include <string>

namespace plenoview {

// Converts a whole decimal integer with optional sign and surrounding blanks.
// Throws UsageError naming `what` otherwise (also on overflow).
int parseWholeNumber(const std::string& text, const std::string& what);

}  // namespace plenoview
