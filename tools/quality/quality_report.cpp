#include "tools/quality/quality_report.h"

#include "base/plenoview_error.h"
#include "tools/synth/synth_options.h"
#include "tools/synth/synthesize.h"

#include <opencv2/core/utils/logger.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview::quality {

namespace fs = std::filesystem;

namespace {

const char* const kQualityUsage =
    "usage: plenoview-quality [generator options]\n"
    "       plenoview-quality --data DIR [--pattern P]\n"
    "\n"
    "Generates scenes with plenoview-synth's options as the base (its defaults:\n"
    "640 x 480, lenses 17 pixels across, seed 1) and prints how well the pipeline\n"
    "gives them back: the lens types' centre views rendered at the true patch\n"
    "sizes, the estimated patch sizes, and the blended centre view, each against\n"
    "the ground truth. With --data, measures a folder the generator wrote.\n"
    "The scenes are written to --out DIR when it is given, else to a temporary\n"
    "folder that is removed afterwards.\n";

std::string fixed2(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string percent(int part, int whole) {
  return whole == 0 ? std::string("-") : fixed2(100.0 * part / whole);
}

std::string padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string leftPadded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

struct Totals {
  int lenses = 0;
  int withinOneStep = 0;
};

Totals totals(const SizeTable (&type)[kLensTypes]) {
  Totals sum;
  for (const SizeTable& table : type) {
    for (const auto& entry : table) {
      sum.lenses += entry.second.lenses;
      sum.withinOneStep += entry.second.withinOneStep;
    }
  }
  return sum;
}

bool hasOption(int argc, const char* const* argv, const std::string& name) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == name || arg.rfind(name + "=", 0) == 0) return true;
  }
  return false;
}

// Generates one scene into `folder` and reads it back.
GeneratedSet generate(synth::SynthOptions options, const fs::path& folder) {
  options.outputDir = folder.string();
  options.previewPath.clear();
  std::ostringstream progress;
  synth::synthesize(options, progress);
  return readGeneratedSet(options.outputDir, options.pattern);
}

void measureFolder(const std::string& folder, const std::string& pattern, std::ostream& out) {
  const GeneratedSet set = readGeneratedSet(folder, pattern);
  out << "Lens-type centre views at the true patch sizes, PSNR in dB\n";
  printTrueSizeHeader(out);
  printTrueSizeRow(out, folder, measureTrueSizeViews(set));
  const EstimationQuality estimation = measureEstimation(set);
  out << "\nEstimated patch sizes, interior lenses\n";
  printEstimationTable(out, estimation.type);
  out << "\nBlended centre view after the crop: PSNR " << fixed2(estimation.blended.psnr())
      << " dB\n";
}

// The full pipeline on colour scenes of three depth layouts: one table of
// the estimated patch sizes over all layouts, and per layout a summary with
// the blended centre view's PSNR.
void measureEstimationScenes(const synth::SynthOptions& base, const std::string& condition,
                             const fs::path& root, std::ostream& out) {
  out << "\nFull pipeline on colour scenes " << condition << ":\n"
      << "estimated patch sizes of the interior lenses, and the blended centre view after the "
         "crop\n";
  struct Layout {
    const char* name;
    synth::DepthLayout depth;
  };
  const Layout layouts[] = {{"regions", synth::DepthLayout::kRegions},
                            {"ramp", synth::DepthLayout::kRamp},
                            {"constant", synth::DepthLayout::kConstant}};
  SizeTable all[kLensTypes];
  std::ostringstream summary;
  summary << leftPadded("layout", 10) << padded("lenses", 8) << padded("within 1 %", 12)
          << padded("PSNR dB", 10) << "\n";
  for (const Layout& layout : layouts) {
    synth::SynthOptions options = base;
    options.colour = true;
    options.depth = layout.depth;
    const GeneratedSet set = generate(options, root / layout.name);
    const EstimationQuality estimation = measureEstimation(set);
    for (int type = 0; type < kLensTypes; ++type) {
      for (const auto& entry : estimation.type[type]) {
        SizeCount& sum = all[type][entry.first];
        sum.lenses += entry.second.lenses;
        sum.exact += entry.second.exact;
        sum.withinOneStep += entry.second.withinOneStep;
      }
    }
    const Totals layoutTotals = totals(estimation.type);
    summary << leftPadded(layout.name, 10) << padded(std::to_string(layoutTotals.lenses), 8)
            << padded(percent(layoutTotals.withinOneStep, layoutTotals.lenses), 12)
            << padded(fixed2(estimation.blended.psnr()), 10) << "\n";
  }
  printEstimationTable(out, all);
  out << "\n" << summary.str();
}

void measureGenerated(const synth::SynthOptions& base, const fs::path& root, std::ostream& out) {
  out << "Lens-type centre views at the true patch sizes, PSNR in dB against the\n"
         "texture moved by each type's shift, over the interior the lenses cover\n";
  printTrueSizeHeader(out);
  struct Scene {
    const char* name;
    bool colour;
    bool clean;
  };
  const Scene scenes[] = {{"grey, clean", false, true},
                          {"colour, clean", true, true},
                          {"grey, blur/noise/vignetting", false, false},
                          {"colour, blur/noise/vignetting", true, false}};
  int index = 0;
  for (const Scene& scene : scenes) {
    synth::SynthOptions options = base;
    options.colour = scene.colour;
    if (scene.clean) {
      options.blur = 0;
      options.noise = 0;
      options.vignetting = 0;
    }
    const GeneratedSet set = generate(options, root / ("true" + std::to_string(index++)));
    printTrueSizeRow(out, scene.name, measureTrueSizeViews(set));
  }

  measureEstimationScenes(base, "with the generator's blur, noise and vignetting",
                          root / "estimate", out);
  synth::SynthOptions flat = base;
  flat.vignetting = 0;
  measureEstimationScenes(flat, "with blur and noise, without vignetting", root / "estimate-flat",
                          out);
}

}  // namespace

void printTrueSizeHeader(std::ostream& out) {
  out << leftPadded("scene", 32) << padded("type 0", 8) << padded("type 1", 8)
      << padded("type 2", 8) << "\n";
}

void printTrueSizeRow(std::ostream& out, const std::string& scene, const TrueSizeQuality& quality) {
  out << leftPadded(scene, 32);
  for (int type = 0; type < kLensTypes; ++type) out << padded(fixed2(quality.type[type].psnr()), 8);
  out << "\n";
}

void printEstimationTable(std::ostream& out, const SizeTable (&tables)[kLensTypes]) {
  out << padded("type", 4) << padded("true size", 11) << padded("lenses", 8) << padded("exact %", 9)
      << padded("within 1 %", 12) << "\n";
  for (int type = 0; type < kLensTypes; ++type) {
    for (const auto& entry : tables[type]) {
      const SizeCount& count = entry.second;
      out << padded(std::to_string(type), 4) << padded(std::to_string(entry.first), 11)
          << padded(std::to_string(count.lenses), 8)
          << padded(percent(count.exact, count.lenses), 9)
          << padded(percent(count.withinOneStep, count.lenses), 12) << "\n";
    }
  }
}

int runQuality(int argc, const char* const* argv) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  try {
    if (argc >= 2 && std::string(argv[1]) == "--data") {
      if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--pattern")) {
        throw UsageError("--data takes a folder, optionally followed by --pattern P");
      }
      measureFolder(argv[2], argc == 5 ? argv[4] : "frame%03d.png", std::cout);
      return kExitSuccess;
    }
    const synth::SynthOptions base = synth::parseSynthOptions(argc, argv);
    if (base.showHelp) {
      std::cout << kQualityUsage;
      return kExitSuccess;
    }
    const bool keep = hasOption(argc, argv, "--out");
    fs::path root = base.outputDir;
    if (!keep) {
      root = fs::temp_directory_path() /
             ("plenoview-quality-" + std::to_string(std::random_device{}()));
    }
    try {
      measureGenerated(base, root, std::cout);
    } catch (...) {
      if (!keep) fs::remove_all(root);
      throw;
    }
    if (!keep) fs::remove_all(root);
    return kExitSuccess;
  } catch (const UsageError& e) {
    std::cerr << "plenoview-quality: " << e.what() << "\n" << kQualityUsage;
    return kExitUsage;
  } catch (const PlenoviewError& e) {
    std::cerr << "plenoview-quality: " << e.what() << std::endl;
    return e.exitStatus;
  } catch (const cv::Exception& e) {
    std::cerr << "plenoview-quality: image processing failed: " << e.err << std::endl;
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    std::cerr << "plenoview-quality: out of memory" << std::endl;
    return kExitFailure;
  } catch (const std::exception& e) {
    std::cerr << "plenoview-quality: " << e.what() << std::endl;
    return kExitFailure;
  }
}

}  // namespace plenoview::quality
