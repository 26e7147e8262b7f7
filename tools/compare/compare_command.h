#pragma once

#include "io/video_format.h"

#include <string>

namespace plenoview::compare {

extern const char* const kCompareUsage;

// The command line of plenoview-compare.
struct CompareOptions {
  std::string ref;
  std::string test;
  RawVideoOptions raw;   // --size, --pixel-format: for raw .yuv lenslet videos
  std::string jsonPath;  // --json FILE; empty: none
  std::string csvPath;   // --csv FILE; empty: none
  bool showHelp = false;
};

// Parses `[options] REF TEST` (options anywhere, also as --name=value).
// Throws UsageError for an unknown option, an option without its value, an
// empty value, a --pixel-format other than yuv420p or yuv420p10le, or not
// exactly two sides (unless --help).
CompareOptions parseCompareOptions(int argc, const char* const* argv);

// The whole program: measures, prints the table on stdout and writes the
// files asked for. Errors are one line on stderr, "plenoview-compare:
// <message>", and status 1; a usage error adds the usage, status 2. Returns
// the exit status.
int runCompare(int argc, const char* const* argv);

}  // namespace plenoview::compare
