#pragma once

#include <string>

namespace plenoview {

// The usage text printed by --help and with every usage error.
extern const char* const kUsage;

// What the command line asks for. The four positional texts are kept as typed,
// since the program echoes them.
struct CommandLine {
  std::string calibPath;        // CalibPath
  std::string imagePattern;     // ImagePath: printf-style, one int conversion at most
  std::string imageNumText;     // ImageNum as typed
  std::string viewNumText;      // ViewNum as typed
  int imageNum = 0;             // frames to process (0 or less: none)
  int viewNum = 0;              // views per side, >= 1
  int firstFrame = 0;           // --first-frame: frames firstFrame .. imageNum-1, >= 0
  std::string outputDir = ".";  // --output-dir: where Result/ is created
  bool resume = false;          // --resume: skip frames whose views all exist
  bool warmUp = true;           // false with --no-warm-up
  bool showWindows = true;      // false with --no-window
  bool showHelp = false;        // --help: print kUsage, exit 0
  bool showVersion = false;     // --version
  // Lenslet video (ImagePath a .yuv or .y4m file, or "-"):
  std::string sizeText;              // --size WxH as typed, checked when the video is opened
  std::string pixelFormat;           // --pixel-format: "", "yuv420p" or "yuv420p10le"
  std::string outputFormat = "png";  // --output-format: "png", "yuv" or "y4m"
  int pngLevel = 1;                  // --png-level: 1 (fastest) .. 3 (smallest files)
  int fps = 30;                      // --fps: frame rate of y4m view files, >= 1
  // Patch sizes, PatchSizes_fFFFF_tT.png per frame and lens type:
  std::string savePatchSizes;  // --save-patch-sizes DIR: written as each frame is done
  std::string loadPatchSizes;  // --load-patch-sizes DIR: read instead of estimated
  // Not in the usage text, for measurements and comparisons:
  bool allScaleLevels = false;  // --all-scale-levels: build every scale level whole
  int threads = 0;              // --threads N: worker threads (0: OpenCV's default)
};

// Parses argv without any I/O. Throws UsageError for a wrong number of
// positional arguments, an unknown option, an option without its value, a
// number that is not a whole decimal integer, ViewNum outside 1 ..
// kMaxViewNum, a negative first frame, an empty output folder, an unsafe
// ImagePath pattern, a pixel or output format it does not know, an --fps
// below 1, a --png-level other than 1, 2 or 3, or --size or --pixel-format
// with an ImagePath that is no video.
// The text of --size is checked when the video is opened, since the size may
// come from the file name as well. Options that take a value accept "--name VALUE" and
// "--name=VALUE".
CommandLine parseCommandLine(int argc, const char* const* argv);

}  // namespace plenoview
