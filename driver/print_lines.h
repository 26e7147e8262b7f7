#pragma once

#include <string>

namespace plenoview {

// Writes `text` on std::cout line by line, each line flushed as it is
// written, so that a run that ends early shows every line before it. A last
// line without a newline gets one.
void printLines(const std::string& text);

}  // namespace plenoview
