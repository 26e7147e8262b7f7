#include "tools/synth/synth_options.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "base/whole_number.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace plenoview::synth {

const char* const kSynthUsage =
    "usage: plenoview-synth [options]\n"
    "\n"
    "Writes a calibration file, synthetic raw frames of a hexagonal grid of three\n"
    "interleaved micro-lens types, and their ground truth.\n"
    "\n"
    "frame and grid:\n"
    "  --width W             frame width in pixels (640)\n"
    "  --height H            frame height in pixels (480)\n"
    "  --diameter D          micro-lens diameter in pixels, fractions allowed (17)\n"
    "  --rotation A          grid rotation in radians (0)\n"
    "  --center DX,DY        grid centre from the frame centre, pixels, y down (0,0)\n"
    "  --offsets X0,Y0,X1,Y1,X2,Y2\n"
    "                        lens-type offsets of the calibration file, in diameters;\n"
    "                        each X+Y whole, the three distinct modulo 3 (0,0,1,0,2,0)\n"
    "  --look disc|hex       round micro-images with dark sensor between them, or\n"
    "                        nearly touching hexagonal ones (disc)\n"
    "\n"
    "scene:\n"
    "  --scene textured|white  procedural texture, or a flat field (textured)\n"
    "  --colour, --grey      colour or grey frames (colour)\n"
    "  --depth regions|ramp|constant\n"
    "                        how the true patch size varies over the scene (regions)\n"
    "  --patch-sizes A,B     smallest and largest true patch size (the candidate\n"
    "                        sizes 3 .. diameter - 2, without the largest two)\n"
    "  --motion DX,DY        whole view pixels the scene moves per frame (0,0)\n"
    "  --blur B              defocus of a lens type far from its depth range, raw\n"
    "                        pixels; 0 gives sharp point samples (1.5)\n"
    "  --vignetting V        light lost at a micro-image's rim, 0..1 (0.2)\n"
    "  --noise S             sensor noise, standard deviation in grey levels (2)\n"
    "  --seed S              seed of the texture and the noise (1)\n"
    "\n"
    "output:\n"
    "  --frames F            number of frames (1)\n"
    "  --views N             views per side the ground truth is given for (5)\n"
    "  --out DIR             output folder (synth)\n"
    "  --pattern P           printf-style frame file name, given the frame index\n"
    "                        (frame%03d.png)\n"
    "  --format F            png: a PNG file per frame (default); yuv or y4m: all\n"
    "                        frames in one 8-bit 4:2:0 video, named as the standard\n"
    "                        sequences are (synth_WxH_Fframes_8bit_yuv420.yuv)\n"
    "  --preview FILE        also write a 4x enlarged crop of frame 0's centre\n"
    "  --help                print this help and exit\n";

namespace {

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::string::size_type start = 0;
  while (true) {
    const std::string::size_type comma = text.find(',', start);
    items.push_back(
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

// A finite decimal number, in full, in the classic notation.
double parseNumber(const std::string& text, const std::string& option) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  double value = 0.0;
  in >> value;
  if (in && !in.eof()) in >> std::ws;
  if (text.empty() || in.fail() || !in.eof() || !std::isfinite(value)) {
    throw UsageError(option + ": \"" + text + "\" is not a number");
  }
  return value;
}

std::vector<double> parseNumbers(const std::string& text, const std::string& option, size_t count) {
  const std::vector<std::string> items = splitList(text);
  if (items.size() != count) {
    throw UsageError(option + ": expected " + std::to_string(count) +
                     " comma-separated numbers, not \"" + text + "\"");
  }
  std::vector<double> values;
  for (const std::string& item : items) values.push_back(parseNumber(item, option));
  return values;
}

int parseInt(const std::string& text, const std::string& option, int least) {
  const int value = parseWholeNumber(text, option);
  if (value < least) {
    throw UsageError(option + " must be at least " + std::to_string(least) + ", not \"" + text +
                     "\"");
  }
  return value;
}

cv::Point parseIntPair(const std::string& text, const std::string& option) {
  const std::vector<std::string> items = splitList(text);
  if (items.size() != 2) {
    throw UsageError(option + ": expected two comma-separated whole numbers, not \"" + text + "\"");
  }
  return {parseWholeNumber(items[0], option), parseWholeNumber(items[1], option)};
}

double parseRange(const std::string& text, const std::string& option, double least, double most) {
  const double value = parseNumber(text, option);
  if (value < least || value > most) {
    std::ostringstream range;
    range.imbue(std::locale::classic());
    range << least << " .. " << most;
    throw UsageError(option + " must lie in " + range.str() + ", not \"" + text + "\"");
  }
  return value;
}

// The value that `text` names among `choices`; otherwise a usage error that
// lists the names.
template <typename T>
T parseChoice(const std::string& text, const std::string& option,
              std::initializer_list<std::pair<const char*, T>> choices) {
  std::string names;
  size_t i = 0;
  for (const auto& [name, value] : choices) {
    if (text == name) return value;
    if (i > 0) names += i + 1 == choices.size() ? " or " : ", ";
    names += name;
    ++i;
  }
  throw UsageError(option + " must be " + names + ", not \"" + text + "\"");
}

}  // namespace

SynthOptions parseSynthOptions(int argc, const char* const* argv) {
  SynthOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    bool inlineValue = false;
    const std::string::size_type equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inlineValue = true;
    }
    // Flags take no value.
    if (name == "--help" || name == "--colour" || name == "--grey") {
      if (inlineValue) throw UsageError(name + " takes no value");
      if (name == "--help") {
        options.showHelp = true;
      } else {
        options.colour = name == "--colour";
      }
      continue;
    }
    if (name.rfind("--", 0) != 0) throw UsageError("unexpected argument \"" + name + "\"");
    static const char* const kWithValue[] = {
        "--width",      "--height",  "--diameter", "--rotation",    "--center", "--offsets",
        "--look",       "--scene",   "--depth",    "--patch-sizes", "--motion", "--blur",
        "--vignetting", "--noise",   "--seed",     "--frames",      "--views",  "--out",
        "--pattern",    "--preview", "--format"};
    bool known = false;
    for (const char* option : kWithValue) known = known || name == option;
    if (!known) throw UsageError("unknown option \"" + name + "\"");
    if (!inlineValue) {
      if (i + 1 >= argc) throw UsageError(name + " needs a value");
      value = argv[++i];
    }

    if (name == "--width") {
      options.width = parseInt(value, name, 1);
    } else if (name == "--height") {
      options.height = parseInt(value, name, 1);
    } else if (name == "--diameter") {
      // The calibration reader accepts 6 <= d < 258.
      options.diameter = parseNumber(value, name);
      if (!(options.diameter >= 6.0 && options.diameter < 258.0)) {
        throw UsageError(name + " must lie in [6, 258), not \"" + value + "\"");
      }
    } else if (name == "--rotation") {
      options.rotation = parseRange(value, name, -3.14159265, 3.14159265);
    } else if (name == "--center") {
      const std::vector<double> xy = parseNumbers(value, name, 2);
      options.centerOffset = {xy[0], xy[1]};
    } else if (name == "--offsets") {
      const std::vector<double> v = parseNumbers(value, name, 6);
      for (int type = 0; type < kLensTypes; ++type) {
        options.typeOffset[type] = {static_cast<float>(v[2 * type]),
                                    static_cast<float>(v[2 * type + 1])};
      }
    } else if (name == "--look") {
      options.look = parseChoice<MicroImageLook>(
          value, name, {{"disc", MicroImageLook::kDisc}, {"hex", MicroImageLook::kHex}});
    } else if (name == "--scene") {
      options.scene = parseChoice<SceneKind>(
          value, name, {{"textured", SceneKind::kTextured}, {"white", SceneKind::kWhite}});
    } else if (name == "--depth") {
      options.depth = parseChoice<DepthLayout>(value, name,
                                               {{"regions", DepthLayout::kRegions},
                                                {"ramp", DepthLayout::kRamp},
                                                {"constant", DepthLayout::kConstant}});
    } else if (name == "--patch-sizes") {
      const cv::Point range = parseIntPair(value, name);
      if (range.x < 1 || range.y < range.x) {
        throw UsageError(name + ": \"" + value + "\" is not a range A,B with 1 <= A <= B");
      }
      options.smallestPatch = range.x;
      options.largestPatch = range.y;
    } else if (name == "--motion") {
      options.motion = parseIntPair(value, name);
      if (std::abs(options.motion.x) > 1000 || std::abs(options.motion.y) > 1000) {
        throw UsageError(name + ": \"" + value + "\" moves more than 1000 pixels per frame");
      }
    } else if (name == "--blur") {
      options.blur = parseRange(value, name, 0.0, 10.0);
    } else if (name == "--vignetting") {
      options.vignetting = parseRange(value, name, 0.0, 1.0);
    } else if (name == "--noise") {
      options.noise = parseRange(value, name, 0.0, 100.0);
    } else if (name == "--seed") {
      const double seed = parseNumber(value, name);
      if (seed < 0 || seed > 4294967295.0 || seed != std::floor(seed)) {
        throw UsageError(name + " must be a whole number in 0 .. 4294967295, not \"" + value +
                         "\"");
      }
      options.seed = static_cast<std::uint32_t>(seed);
    } else if (name == "--frames") {
      options.frames = parseInt(value, name, 1);
    } else if (name == "--views") {
      options.views = parseInt(value, name, 1);
      if (options.views > 99) throw UsageError(name + " must be at most 99, not \"" + value + "\"");
    } else if (name == "--out") {
      if (value.empty()) throw UsageError(name + " needs a folder");
      options.outputDir = value;
    } else if (name == "--pattern") {
      try {
        checkFramePattern(value);
      } catch (const UsageError& e) {
        // The check names the pattern as the viewer's argument ImagePath "P": why.
        const std::string why =
            std::string(e.what()).substr(std::string("ImagePath \"\": ").size() + value.size());
        throw UsageError(name + " \"" + value + "\": " + why);
      }
      options.pattern = value;
    } else if (name == "--format") {
      options.format = parseChoice<FrameFormat>(
          value, name,
          {{"png", FrameFormat::kPng}, {"yuv", FrameFormat::kYuv}, {"y4m", FrameFormat::kY4m}});
    } else if (name == "--preview") {
      if (value.empty()) throw UsageError(name + " needs a file name");
      options.previewPath = value;
    }
  }
  // A frame of a few lenses is all the geometry needs, but the sizes are
  // multiplied into pixel counts.
  if (static_cast<long long>(options.width) * options.height > 100000000LL) {
    throw UsageError("--width x --height: " + std::to_string(options.width) + " x " +
                     std::to_string(options.height) + " is more than 100 megapixels");
  }
  // 4:2:0 halves the chroma planes in both directions.
  if (options.format != FrameFormat::kPng && (options.width % 2 != 0 || options.height % 2 != 0)) {
    throw UsageError("--format " +
                     std::string(options.format == FrameFormat::kYuv ? "yuv" : "y4m") +
                     " needs an even --width and --height, not " + std::to_string(options.width) +
                     " x " + std::to_string(options.height));
  }
  return options;
}

}  // namespace plenoview::synth
