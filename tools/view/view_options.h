#pragma once

#include <string>
#include <vector>

namespace plenoview::view {

// The usage text printed by --help and with every usage error.
extern const char* const kViewUsage;

// The page shows at most this many frames unless --every or --frames say
// otherwise, so that a long sequence gives a page that loads quickly.
constexpr int kDefaultMaxFrames = 30;

// What the command line of plenoview-view asks for.
struct ViewOptions {
  std::string result;       // RESULT: the view folder (or the folder holding Result/)
  std::string out;          // OUT: where index.html and mosaic.png go
  bool frameRange = false;  // --frames A..B given
  int firstFrame = 0;       // A
  int lastFrame = 0;        // B >= A
  int every = 0;            // --every K >= 1; 0: the default step (chooseFrames)
  int jpegQuality = 0;      // --jpeg Q, 1 .. 100; 0: lossless PNG
  std::string patchSizes;   // --patch-sizes DIR, "" when not given
  int maxMegabytes = 100;   // --max-mb M >= 1: the largest page written, in 10^6 bytes
  bool showHelp = false;    // --help
};

// Parses argv without any I/O. Throws UsageError for a wrong number of
// positional arguments, an unknown option, an option without its value, a
// number that is not a whole decimal integer, --frames not of the form A..B
// with 0 <= A <= B, --every or --max-mb below 1, --jpeg outside 1 .. 100.
// Options stand before or after the positional arguments and take their
// value as "--name VALUE" or "--name=VALUE".
ViewOptions parseViewOptions(int argc, const char* const* argv);

// The frames the page shows, from `held` (a folder's frame indices, in
// increasing order): those within --frames A..B, then every K-th of them
// starting with the first. Without --every, K is the smallest step that keeps
// at most kDefaultMaxFrames frames: ceil(count / kDefaultMaxFrames). Throws
// PlenoviewError when no held frame lies within A..B.
std::vector<int> chooseFrames(const std::vector<int>& held, const ViewOptions& options);

}  // namespace plenoview::view
