#include "tools/view/view_options.h"

#include "base/plenoview_error.h"
#include "base/whole_number.h"

#include <string>
#include <vector>

namespace plenoview::view {

const char* const kViewUsage =
    "usage: plenoview-view [options] RESULT OUT\n"
    "\n"
    "Writes a page to look at the views of a run, OUT/index.html, and the first\n"
    "frame's views abutted, OUT/mosaic.png. The page needs no server and no\n"
    "network: open it from the file system in a browser.\n"
    "\n"
    "  RESULT  the views: the folder plenoview's --output-dir named (holding\n"
    "          Result/), or Result/ itself; PNG views, or one .yuv or .y4m file\n"
    "          per view\n"
    "  OUT     folder of the page, made when missing; index.html and mosaic.png\n"
    "          in it are replaced\n"
    "\n"
    "options:\n"
    "  --frames A..B      only the frames A .. B (as numbered in the file names;\n"
    "                     0 .. count-1 for video files)\n"
    "  --every K          every K-th of those frames, from the first; by default\n"
    "                     every frame up to 30, and for longer sequences the\n"
    "                     smallest step that keeps at most 30\n"
    "  --jpeg Q           views as JPEG of quality Q (1 .. 100) for a smaller page;\n"
    "                     default lossless PNG, every pixel as in the view\n"
    "  --patch-sizes DIR  the patch sizes that plenoview's --save-patch-sizes wrote\n"
    "                     into DIR, shown per lens type in false colour\n"
    "  --max-mb M         refuse to write a page larger than M megabytes (10^6\n"
    "                     bytes; default 100)\n"
    "  --help             print this help and exit\n";

namespace {

// "A..B" with 0 <= A <= B.
void parseFrameRange(const std::string& text, ViewOptions& options) {
  const std::string::size_type dots = text.find("..");
  if (dots == std::string::npos) {
    throw UsageError("--frames takes A..B (as 0..9), not \"" + text + "\"");
  }
  options.firstFrame = parseWholeNumber(text.substr(0, dots), "--frames A");
  options.lastFrame = parseWholeNumber(text.substr(dots + 2), "--frames B");
  if (options.firstFrame < 0 || options.lastFrame < options.firstFrame) {
    throw UsageError("--frames " + text + ": A..B needs 0 <= A <= B");
  }
  options.frameRange = true;
}

int parseAtLeast(const std::string& text, const std::string& option, int low, int high) {
  const int value = parseWholeNumber(text, option);
  if (value < low || value > high) {
    throw UsageError(option + " " + text + ": must lie in " + std::to_string(low) + " .. " +
                     std::to_string(high));
  }
  return value;
}

}  // namespace

ViewOptions parseViewOptions(int argc, const char* const* argv) {
  ViewOptions options;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      options.showHelp = true;
      return options;
    }
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      positional.push_back(arg);
      continue;
    }
    std::string value;
    bool hasValue = false;
    const std::string::size_type equals = arg.find('=');
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
      hasValue = true;
    }
    const auto takeValue = [&]() {
      if (hasValue) return value;
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      return std::string(argv[++i]);
    };
    if (arg == "--frames") {
      parseFrameRange(takeValue(), options);
    } else if (arg == "--every") {
      options.every = parseAtLeast(takeValue(), "--every", 1, 1 << 30);
    } else if (arg == "--jpeg") {
      options.jpegQuality = parseAtLeast(takeValue(), "--jpeg", 1, 100);
    } else if (arg == "--patch-sizes") {
      options.patchSizes = takeValue();
      if (options.patchSizes.empty()) throw UsageError("--patch-sizes needs a folder");
    } else if (arg == "--max-mb") {
      options.maxMegabytes = parseAtLeast(takeValue(), "--max-mb", 1, 1 << 20);
    } else {
      throw UsageError("unknown option \"" + arg + "\"");
    }
  }
  if (positional.size() != 2) {
    throw UsageError("expected RESULT and OUT, got " + std::to_string(positional.size()) +
                     " argument(s)");
  }
  options.result = positional[0];
  options.out = positional[1];
  return options;
}

std::vector<int> chooseFrames(const std::vector<int>& held, const ViewOptions& options) {
  std::vector<int> inRange;
  for (int frame : held) {
    if (!options.frameRange || (frame >= options.firstFrame && frame <= options.lastFrame)) {
      inRange.push_back(frame);
    }
  }
  if (inRange.empty()) {
    throw PlenoviewError("no frame of the folder lies in --frames " +
                         std::to_string(options.firstFrame) + ".." +
                         std::to_string(options.lastFrame) + " (it holds frames " +
                         std::to_string(held.front()) + " .. " + std::to_string(held.back()) + ")");
  }
  const int count = static_cast<int>(inRange.size());
  const int every =
      options.every > 0 ? options.every : (count + kDefaultMaxFrames - 1) / kDefaultMaxFrames;
  std::vector<int> chosen;
  for (int i = 0; i < count; i += every) chosen.push_back(inRange[i]);
  return chosen;
}

}  // namespace plenoview::view
