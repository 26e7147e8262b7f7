#include "tools/synth/synthesize.h"

#include "base/frame_path.h"
#include "base/plenoview_error.h"
#include "calibration/lens_calibration.h"
#include "calibration/lens_type_roles.h"
#include "io/view_videos.h"
#include "tools/synth/frame_synthesizer.h"
#include "tools/synth/synth_grid.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace plenoview::synth {

namespace fs = std::filesystem;

namespace {

std::string textureName(int frame) {
  char name[64];
  std::snprintf(name, sizeof name, "texture_f%04d.png", frame);
  return name;
}

std::string patchSizeName(int frame, int type) {
  char name[64];
  std::snprintf(name, sizeof name, "patch_size_f%04d_t%d.png", frame, type);
  return name;
}

void makeFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder)) {
    throw PlenoviewError("cannot create the folder \"" + folder.string() + "\"" +
                         (error ? ": " + error.message() : std::string()));
  }
}

void writeText(const fs::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) throw PlenoviewError("cannot write \"" + path.string() + "\"");
}

void writePng(const fs::path& path, const cv::Mat& image) {
  makeFolder(path.parent_path().empty() ? fs::path(".") : path.parent_path());
  bool written = false;
  try {
    written = cv::imwrite(path.string(), image, {cv::IMWRITE_PNG_COMPRESSION, 9});
  } catch (const cv::Exception&) {
    written = false;
  }
  if (!written) throw PlenoviewError("cannot write \"" + path.string() + "\"");
}

// The name the standard lenslet sequences have, with "synth" as the
// sequence's name: the size, frame count and bit depth can be read from it.
std::string videoName(const SynthOptions& options) {
  return "synth_" + std::to_string(options.width) + "x" + std::to_string(options.height) + "_" +
         std::to_string(options.frames) + "frames_8bit_yuv420." +
         (options.format == FrameFormat::kYuv ? "yuv" : "y4m");
}

// A raw frame as the planes of an I420 video frame: the colour conversion
// plenoview reads them back with, inverted by cv::cvtColor; a grey frame
// gives its Y plane and neutral chroma.
std::string framePlanes(const cv::Mat& raw) {
  const cv::Mat planes = viewToPlanes(raw);
  return std::string(reinterpret_cast<const char*>(planes.data), planes.total());
}

// Refusals that need no grid: the lens types must make one hexagonal grid and
// the grid centre must lie in the frame, a radius below its top edge.
void checkLayout(const SynthOptions& options) {
  bool taken[kLensTypes] = {false, false, false};
  for (int type = 0; type < kLensTypes; ++type) {
    // The reader places a type's centre-row lens (x + y) diameters left of the
    // centre, with x and y widened from single precision.
    const double sum = static_cast<double>(options.typeOffset[type].x) +
                       static_cast<double>(options.typeOffset[type].y);
    const double whole = std::round(sum);
    if (std::abs(sum - whole) > 1e-6) {
      throw UsageError("--offsets: lens type " + std::to_string(type) +
                       " has x + y = " + exactNumber(sum) +
                       ", which puts its lenses between the grid's places (x + y must be whole)");
    }
    const int place = ((static_cast<int>(whole) % 3) + 3) % 3;
    if (taken[place]) {
      throw UsageError(
          "--offsets: lens type " + std::to_string(type) +
          " falls on the same lenses as an earlier type (the three x + y must differ modulo 3)");
    }
    taken[place] = true;
  }
  const double cx = options.width * 0.5 + options.centerOffset.x;
  const double cy = options.height * 0.5 + options.centerOffset.y;
  const double r = options.diameter * 0.5;
  if (cx < 0 || cx >= options.width || cy < r || cy >= options.height) {
    throw UsageError("--center: the grid centre (" + exactNumber(cx) + ", " + exactNumber(cy) +
                     ") must lie in the frame and at least a radius below its top edge");
  }
}

// Refusals that need the grid as the renderer sees it.
void checkGrid(const SynthOptions& options, const SynthGrid& grid) {
  const LensCalibration& calib = grid.calib();
  if (calib.num.x < 1 || calib.num.y < 1) {
    throw UsageError("--width/--height/--diameter: a " + std::to_string(options.width) + " x " +
                     std::to_string(options.height) +
                     " frame holds no whole row of three lenses of diameter " +
                     exactNumber(options.diameter));
  }
  const LensTypeRoles roles = lensTypeRoles(calib);
  if (roles.leftType == roles.middleType || roles.middleType == roles.rightType ||
      roles.leftType == roles.rightType) {
    throw UsageError(
        "--center/--diameter: the lens types' first lenses do not fall a whole diameter apart in "
        "whole pixels, so the renderer cannot tell left, middle and right apart; move the centre "
        "by a fraction of a pixel");
  }
  const cv::Point range = patchSizeRange(options, grid);
  const int smallest = range.x;
  const int largest = range.y;
  if (smallest < grid.firstCandidate() || largest > grid.lastCandidate()) {
    throw UsageError("--patch-sizes: " + std::to_string(smallest) + "," + std::to_string(largest) +
                     " leaves the candidate sizes " + std::to_string(grid.firstCandidate()) +
                     " .. " + std::to_string(grid.lastCandidate()) + " of diameter " +
                     exactNumber(options.diameter));
  }
  if (options.format == FrameFormat::kPng && options.frames > 1 &&
      formatPath(options.pattern, 0) == formatPath(options.pattern, 1)) {
    throw UsageError("--pattern \"" + options.pattern +
                     "\" gives every frame the same name; add %d");
  }
}

std::string sceneText(const SynthOptions& options, const SynthGrid& grid) {
  const LensCalibration& calib = grid.calib();
  std::string text =
      "# Ground truth of plenoview-synth. Texture coordinates are the centre-view\n"
      "# coordinates of the middle lens type; lens type t's centre view shows the\n"
      "# texture at (x + type_shift t, y).\n";
  text +=
      "frame_size " + std::to_string(options.width) + " " + std::to_string(options.height) + "\n";
  text += "frames " + std::to_string(options.frames) + "\n";
  text += "views " + std::to_string(grid.views()) + "\n";
  text += "view_size " + std::to_string(grid.viewSize().width) + " " +
          std::to_string(grid.viewSize().height) + "\n";
  text += "lenses " + std::to_string(calib.num.x) + " " + std::to_string(calib.num.y) + "\n";
  text += "middle_type " + std::to_string(grid.middleType()) + "\n";
  for (int type = 0; type < kLensTypes; ++type) {
    const LensMapping m = grid.mapping({type, 0, 0}, grid.firstCandidate());
    text += "type_shift " + std::to_string(type) + " " + exactNumber(m.typeShift) + "\n";
  }
  const cv::Point range = patchSizeRange(options, grid);
  text += "patch_sizes " + std::to_string(range.x) + " " + std::to_string(range.y) + "\n";
  for (int type = 0; type < kLensTypes; ++type) {
    text += "sharp_patch_size " + std::to_string(type) + " " +
            exactNumber(grid.firstCandidate() +
                        type * ((grid.lastCandidate() - grid.firstCandidate()) * 0.5)) +
            "\n";
  }
  text +=
      "motion " + std::to_string(options.motion.x) + " " + std::to_string(options.motion.y) + "\n";
  return text;
}

}  // namespace

void synthesize(const SynthOptions& options, std::ostream& out) {
  checkLayout(options);
  const fs::path folder(options.outputDir);
  makeFolder(folder);
  const fs::path calibPath = folder / "calib.xml";
  writeText(calibPath, calibrationXml(options.diameter, options.rotation, options.centerOffset,
                                      options.typeOffset));

  // The grid is what the calibration reader makes of the file just written.
  LensCalibration calib;
  const cv::Mat frameShape(options.height, options.width, CV_8UC1, cv::Scalar(0));
  try {
    readCalibration(calib, frameShape, calibPath.string());
  } catch (const PlenoviewError& e) {
    std::error_code ignored;
    fs::remove(calibPath, ignored);
    throw UsageError(e.what());
  }
  const SynthGrid grid(calib, options.views, frameShape.size());
  try {
    checkGrid(options, grid);
  } catch (const UsageError&) {
    std::error_code ignored;
    fs::remove(calibPath, ignored);
    throw;
  }
  out << "calibration: " << calibPath.string() << std::endl;

  const FrameSynthesizer synthesizer(options, grid);
  const fs::path truth = folder / "truth";
  makeFolder(truth);
  const bool png = options.format == FrameFormat::kPng;
  const fs::path videoPath = folder / (png ? std::string() : videoName(options));
  std::ofstream video;
  if (!png) {
    video.open(videoPath, std::ios::binary | std::ios::trunc);
    if (options.format == FrameFormat::kY4m) {
      video << "YUV4MPEG2 W" << options.width << " H" << options.height
            << " F30:1 Ip A1:1 C420jpeg\n";
    }
  }
  for (int f = 0; f < options.frames; ++f) {
    const fs::path framePath = folder / formatPath(options.pattern, f);
    const cv::Mat raw = synthesizer.rawFrame(f);
    if (png) {
      writePng(framePath, raw);
    } else {
      video << (options.format == FrameFormat::kY4m ? "FRAME\n" : "") << framePlanes(raw);
      if (!video) throw PlenoviewError("cannot write \"" + videoPath.string() + "\"");
    }
    writePng(truth / textureName(f), synthesizer.truthTexture(f));
    for (int type = 0; type < kLensTypes; ++type) {
      writePng(truth / patchSizeName(f, type), synthesizer.truePatchSizes(f, type));
    }
    if (png) out << "frame: " << framePath.string() << std::endl;
    if (f == 0 && !options.previewPath.empty()) {
      // The middle of the frame, four times enlarged, pixels kept square.
      const cv::Rect crop(cv::Point(options.width / 2, options.height / 2) - cv::Point(48, 32),
                          cv::Size(96, 64));
      const cv::Rect inside = crop & cv::Rect(0, 0, options.width, options.height);
      cv::Mat preview;
      cv::resize(raw(inside), preview, cv::Size(), 4, 4, cv::INTER_NEAREST);
      writePng(options.previewPath, preview);
      out << "preview: " << options.previewPath << std::endl;
    }
  }
  if (!png) {
    video.close();
    if (!video) throw PlenoviewError("cannot write \"" + videoPath.string() + "\"");
    out << "video: " << videoPath.string() << std::endl;
  }
  writeText(truth / "scene.txt", sceneText(options, grid));
  out << "ground truth: " << truth.string() << " (view size " << grid.viewSize().width << " x "
      << grid.viewSize().height << " for " << grid.views() << " x " << grid.views() << " views)"
      << std::endl;
}

int runSynth(int argc, const char* const* argv) {
  // OpenCV's own warnings would put a second, unclear line beside ours.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  try {
    const SynthOptions options = parseSynthOptions(argc, argv);
    if (options.showHelp) {
      std::cout << kSynthUsage;
      return kExitSuccess;
    }
    synthesize(options, std::cout);
    return kExitSuccess;
  } catch (const PlenoviewError& e) {
    std::cout.flush();
    std::cerr << "plenoview-synth: " << e.what() << std::endl;
    return e.exitStatus;
  } catch (const cv::Exception& e) {
    std::cout.flush();
    std::cerr << "plenoview-synth: image processing failed: " << e.err << std::endl;
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "plenoview-synth: out of memory" << std::endl;
    return kExitFailure;
  }
}

}  // namespace plenoview::synth
