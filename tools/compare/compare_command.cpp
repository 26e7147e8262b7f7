#include "tools/compare/compare_command.h"

#include "base/plenoview_error.h"
#include "io/compare_sides.h"
#include "tools/compare/compare_report.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <vector>

namespace plenoview::compare {

const char* const kCompareUsage =
    R"(usage: plenoview-compare [options] REF TEST

Measures the views of TEST against those of REF as the coding workflow does:
per view and plane (Y, U, V) the MSE over all frames and its PSNR, and the
mean of the views' PSNRs (MV-PSNR); YUV-PSNR = (6 Y + U + V) / 8.

  REF, TEST   each a view folder: the --output-dir of a plenoview run (the
              folder holding Result/) or Result/ itself, with PNG, yuv or y4m
              views (the two sides may differ); or, both, a lenslet video
              (.yuv or .y4m): the PSNR of the whole frame (lenslet PSNR)

options:
  --size WxH        frame size of a raw .yuv lenslet video (default: from the
                    file name, as in 'seq_3840x2160_300frames.yuv')
  --pixel-format F  of a raw .yuv lenslet video: yuv420p (8-bit) or
                    yuv420p10le (10-bit, peak 1023); default 10-bit when the
                    file name says 10bit
  --json FILE       also write the figures as JSON
  --csv FILE        also write one row per view as CSV
  --help            print this help and exit
)";

CompareOptions parseCompareOptions(int argc, const char* const* argv) {
  CompareOptions options;
  std::vector<std::string> sides;
  const std::vector<std::pair<std::string, std::string*>> valued = {
      {"--size", &options.raw.sizeText},
      {"--pixel-format", &options.raw.pixelFormat},
      {"--json", &options.jsonPath},
      {"--csv", &options.csvPath}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      options.showHelp = true;
      continue;
    }
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      sides.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    std::string* target = nullptr;
    for (const auto& [option, field] : valued) {
      if (option == name) target = field;
    }
    if (target == nullptr) throw UsageError("unknown option \"" + name + "\"");
    if (equals != std::string::npos) {
      *target = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      *target = argv[++i];
    } else {
      throw UsageError(name + " needs a value");
    }
    if (target->empty()) throw UsageError(name + " needs a value, not \"\"");
  }
  const std::string& format = options.raw.pixelFormat;
  if (!format.empty() && format != "yuv420p" && format != "yuv420p10le") {
    throw UsageError("--pixel-format must be yuv420p or yuv420p10le, not \"" + format + "\"");
  }
  if (options.showHelp) return options;
  if (sides.size() != 2) {
    throw UsageError("expected 2 arguments (REF TEST), got " + std::to_string(sides.size()));
  }
  options.ref = sides[0];
  options.test = sides[1];
  return options;
}

namespace {

void writeFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) write(out);
  out.flush();
  if (!out) throw PlenoviewError("cannot write \"" + path + "\": " + std::strerror(errno));
}

}  // namespace

int runCompare(int argc, const char* const* argv) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  const char* const prefix = "plenoview-compare: ";
  try {
    const CompareOptions options = parseCompareOptions(argc, argv);
    if (options.showHelp) {
      std::cout << kCompareUsage;
      return kExitSuccess;
    }
    const Comparison comparison = compareSides(options.ref, options.test, options.raw);
    if (!options.jsonPath.empty()) {
      writeFile(options.jsonPath, [&](std::ostream& out) { writeJson(out, comparison); });
    }
    if (!options.csvPath.empty()) {
      writeFile(options.csvPath, [&](std::ostream& out) { writeCsv(out, comparison); });
    }
    printTable(std::cout, comparison);
    std::cout.flush();
    return kExitSuccess;
  } catch (const UsageError& e) {
    std::cerr << prefix << e.what() << "\n" << kCompareUsage;
    return kExitUsage;
  } catch (const PlenoviewError& e) {
    std::cerr << prefix << e.what() << std::endl;
    return e.exitStatus;
  } catch (const cv::Exception& e) {
    std::cerr << prefix << "image processing failed: " << e.err << std::endl;
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    std::cerr << prefix << "out of memory" << std::endl;
    return kExitFailure;
  } catch (const std::exception& e) {
    std::cerr << prefix << e.what() << std::endl;
    return kExitFailure;
  }
}

}  // namespace plenoview::compare
