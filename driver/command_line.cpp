#include "driver/command_line.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "base/whole_number.h"
#include "io/png_encoder.h"
#include "io/video_source.h"
#include "renderer/render_limits.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <iterator>
#include <string>
#include <vector>

namespace plenoview {

const char* const kUsage =
    "usage: plenoview [options] CalibPath ImagePath ImageNum ViewNum\n"
    "\n"
    "  CalibPath   calibration XML file of the micro-lens grid\n"
    "  ImagePath   printf-style pattern of the raw frames, given the frame\n"
    "              index (for example 'frame%03d.png'), or a lenslet video:\n"
    "              a .yuv or .y4m file, or - for standard input\n"
    "  ImageNum    number of frames: indices 0 .. ImageNum-1\n"
    "  ViewNum     views per side N: writes N x N views per frame\n"
    "\n"
    "options:\n"
    "  --first-frame K   process frames K .. ImageNum-1 only (default 0); frame K\n"
    "                    gives the image size, names keep the frame index\n"
    "  --resume          skip frames whose N x N views all exist already\n"
    "  --output-dir DIR  create Result/ in DIR (default: the working directory)\n"
    "  --no-warm-up      do not estimate patch sizes on the frame before a\n"
    "                    range or a gap left by --resume\n"
    "  --no-window       never open a window (also the default without a display)\n"
    "  --size WxH        frame size of a raw .yuv video (default: from the file\n"
    "                    name, as in 'seq_3840x2160_300frames.yuv')\n"
    "  --pixel-format F  of a raw video: yuv420p (8-bit) or yuv420p10le (10-bit);\n"
    "                    default 10-bit when the file name says 10bit\n"
    "  --output-format F png (default): one PNG per view and frame; yuv or y4m:\n"
    "                    one video file per view\n"
    "  --png-level L     PNG compression: 1 fastest (default); 2 and 3 smaller\n"
    "                    files at more CPU time\n"
    "  --fps N           frame rate written into y4m view files (default 30)\n"
    "  --save-patch-sizes DIR  write each frame's patch sizes, one 8-bit PNG per\n"
    "                    lens type (PatchSizes_fFFFF_tT.png, a pixel per lens)\n"
    "  --load-patch-sizes DIR  render with the patch sizes saved there instead of\n"
    "                    estimating them (no estimation, none of its lines)\n"
    "  --help            print this help and exit\n"
    "  --version         print the version and exit\n";

namespace {

// The options without a value: each sets one flag. "--name=..." is unknown.
struct Flag {
  const char* name;
  bool CommandLine::*member;
  bool value;
};

const Flag kFlags[] = {
    {"--resume", &CommandLine::resume, true},
    {"--no-warm-up", &CommandLine::warmUp, false},
    {"--no-window", &CommandLine::showWindows, false},
    {"--help", &CommandLine::showHelp, true},
    {"--version", &CommandLine::showVersion, true},
    // Not in the usage text, nor is --threads: for measurements and comparisons.
    {"--all-scale-levels", &CommandLine::allScaleLevels, true},
};

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  std::string firstFrameText;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      // An option with a value: "--name VALUE" or "--name=VALUE".
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(0, equals);
      const auto value = [&]() -> std::string {
        if (equals != std::string::npos) return arg.substr(equals + 1);
        if (i + 1 >= argc) throw UsageError("option " + name + " needs a value");
        return argv[++i];
      };
      if (name == "--first-frame") {
        firstFrameText = value();
        line.firstFrame = parseWholeNumber(firstFrameText, "--first-frame");
      } else if (name == "--size") {
        line.sizeText = value();
        if (line.sizeText.empty()) throw UsageError("--size must give a size WIDTHxHEIGHT");
      } else if (name == "--pixel-format") {
        line.pixelFormat = value();
        if (line.pixelFormat != "yuv420p" && line.pixelFormat != "yuv420p10le") {
          throw UsageError("--pixel-format must be yuv420p or yuv420p10le, not \"" +
                           line.pixelFormat + "\"");
        }
      } else if (name == "--output-format") {
        line.outputFormat = value();
        if (line.outputFormat != "png" && line.outputFormat != "yuv" &&
            line.outputFormat != "y4m") {
          throw UsageError("--output-format must be png, yuv or y4m, not \"" + line.outputFormat +
                           "\"");
        }
      } else if (name == "--png-level") {
        const std::string level = value();
        line.pngLevel = parseWholeNumber(level, "--png-level");
        if (line.pngLevel < kFastestPngLevel || line.pngLevel > kSmallestPngLevel) {
          throw UsageError("--png-level must be 1, 2 or 3, not \"" + level + "\"");
        }
      } else if (name == "--fps") {
        const std::string fps = value();
        line.fps = parseWholeNumber(fps, "--fps");
        if (line.fps < 1) throw UsageError("--fps must be at least 1, not \"" + fps + "\"");
      } else if (name == "--save-patch-sizes" || name == "--load-patch-sizes") {
        std::string& folder =
            name == "--save-patch-sizes" ? line.savePatchSizes : line.loadPatchSizes;
        folder = value();
        if (folder.empty()) throw UsageError(name + " must name a folder");
      } else if (name == "--output-dir") {
        line.outputDir = value();
        if (line.outputDir.empty()) throw UsageError("--output-dir must name a folder");
      } else if (name == "--threads") {
        const std::string count = value();
        line.threads = parseWholeNumber(count, "--threads");
        if (line.threads < 1) {
          throw UsageError("--threads must be at least 1, not \"" + count + "\"");
        }
      } else if (arg == "--") {
        optionsEnded = true;
      } else {
        const auto flag = std::find_if(std::begin(kFlags), std::end(kFlags),
                                       [&](const Flag& f) { return arg == f.name; });
        if (flag == std::end(kFlags)) throw UsageError("unknown option \"" + arg + "\"");
        line.*(flag->member) = flag->value;
      }
    } else {
      positional.push_back(arg);
    }
  }
  if (line.showHelp || line.showVersion) return line;
  if (positional.size() != 4) {
    throw UsageError("expected 4 arguments (CalibPath ImagePath ImageNum ViewNum), got " +
                     std::to_string(positional.size()));
  }
  line.calibPath = positional[0];
  line.imagePattern = positional[1];
  line.imageNumText = positional[2];
  line.viewNumText = positional[3];
  line.imageNum = parseWholeNumber(line.imageNumText, "ImageNum");
  line.viewNum = parseWholeNumber(line.viewNumText, "ViewNum");
  if (line.viewNum < 1) {
    throw UsageError("ViewNum must be at least 1, not \"" + line.viewNumText + "\"");
  }
  if (line.viewNum > kMaxViewNum) {
    throw UsageError("ViewNum must be at most " + std::to_string(kMaxViewNum) + ", not \"" +
                     line.viewNumText + "\"");
  }
  if (line.firstFrame < 0) {
    throw UsageError("--first-frame must be at least 0, not \"" + firstFrameText + "\"");
  }
  checkFramePattern(line.imagePattern);
  if ((!line.sizeText.empty() || !line.pixelFormat.empty()) && !isVideoPath(line.imagePattern)) {
    throw UsageError(std::string(line.sizeText.empty() ? "--pixel-format" : "--size") +
                     " applies to a video ImagePath (.yuv, .y4m or -), not to \"" +
                     line.imagePattern + "\"");
  }
  return line;
}

}  // namespace plenoview
