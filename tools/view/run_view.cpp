#include "tools/view/run_view.h"

#include "base/plenoview_error.h"
#include "io/atomic_write.h"
#include "io/view_folder.h"
#include "tools/view/data_uri.h"
#include "tools/view/page_views.h"
#include "tools/view/patch_size_pictures.h"
#include "tools/view/view_options.h"
#include "tools/view/view_page.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace plenoview::view {

namespace {

namespace fs = std::filesystem;

std::string inQuotes(const fs::path& path) { return "\"" + path.string() + "\""; }

// `bytes` written whole to a hidden temporary file beside `path`; returns its
// name. Throws PlenoviewError naming `path`, the temporary file removed.
fs::path stage(const fs::path& path, const char* bytes, std::size_t size) {
  const fs::path temporary = temporaryPathFor(path.string());
  std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
  file.write(bytes, static_cast<std::streamsize>(size));
  file.close();
  if (!file) {
    std::error_code error;
    fs::remove(temporary, error);
    throw PlenoviewError("cannot write " + inQuotes(path));
  }
  return temporary;
}

// Writes the page and the mosaic into `out`: both staged first, then both
// renamed into place, so that OUT never holds a cut file, nor (short of a
// rename failing between the two) a page without its mosaic.
void writeOutput(const fs::path& out, const std::string& page, const std::vector<uchar>& mosaic) {
  std::error_code error;
  fs::create_directories(out, error);
  if (!fs::is_directory(out)) {
    throw PlenoviewError("cannot create the folder " + inQuotes(out) +
                         (error ? ": " + error.message() : std::string()));
  }
  const fs::path pagePath = out / "index.html";
  const fs::path mosaicPath = out / "mosaic.png";
  for (const fs::path& path : {pagePath, mosaicPath}) {
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
      throw PlenoviewError(inQuotes(path) +
                           " is there and is not a regular file; it is left alone");
    }
  }
  std::vector<fs::path> staged;
  try {
    staged.push_back(
        stage(mosaicPath, reinterpret_cast<const char*>(mosaic.data()), mosaic.size()));
    staged.push_back(stage(pagePath, page.data(), page.size()));
    fs::rename(staged[0], mosaicPath);
    fs::rename(staged[1], pagePath);
  } catch (const fs::filesystem_error& e) {
    for (const fs::path& path : staged) fs::remove(path, error);
    throw PlenoviewError("cannot write into " + inQuotes(out) + ": " + e.code().message());
  } catch (...) {
    for (const fs::path& path : staged) fs::remove(path, error);
    throw;
  }
}

// OUT must not be the view folder: the page would make it a folder that is
// no longer one of views only.
void checkOutIsNotViews(const std::string& out, const ViewFolder& folder) {
  std::error_code error;
  if (fs::equivalent(out, folder.folder(), error)) {
    throw PlenoviewError("OUT " + inQuotes(out) +
                         " is the folder of the views; write the page elsewhere");
  }
}

std::vector<uchar> encodeMosaic(const cv::Mat& mosaic) {
  std::vector<uchar> bytes;
  encodeImage(mosaic, ".png", {}, bytes, "cannot encode the mosaic as PNG");
  return bytes;
}

void makeView(const ViewOptions& options, std::ostream& out, std::ostream& err) {
  const ViewFolder folder(options.result);
  const std::vector<int> frames = chooseFrames(folder.frames(), options);
  ViewOptions everyFrame = options;
  everyFrame.every = 1;
  const std::size_t inRange = chooseFrames(folder.frames(), everyFrame).size();
  checkOutIsNotViews(options.out, folder);

  // The patch sizes first: they are quick to read and to refuse.
  std::unique_ptr<PatchSizePictures> patchSizes;
  if (!options.patchSizes.empty()) {
    patchSizes =
        std::make_unique<PatchSizePictures>(readPatchSizePictures(options.patchSizes, frames));
  }
  const std::size_t maxBytes = static_cast<std::size_t>(options.maxMegabytes) * 1000000;
  const PageViews views = readPageViews(folder, frames, options.jpegQuality, maxBytes);
  const PageFacts facts{options.result, folder.viewNum(), folder.viewSize(), frames};
  const std::string page = makePage(facts, views, patchSizes.get());
  checkPageSize(page.size(), maxBytes);
  writeOutput(options.out, page, encodeMosaic(views.mosaic));

  const int n = folder.viewNum();
  const cv::Size size = folder.viewSize();
  out << "page: " << (fs::path(options.out) / "index.html").string() << ", "
      << megabytesText(page.size()) << " (" << frames.size() << " of " << folder.frames().size()
      << " frames, " << n << " x " << n << " views of " << size.width << " x " << size.height
      << ", " << (options.jpegQuality > 0 ? "JPEG" : "PNG") << ")\n"
      << "mosaic: " << (fs::path(options.out) / "mosaic.png").string() << ", " << views.mosaic.cols
      << " x " << views.mosaic.rows << " (frame " << frames[0] << ")\n";
  if (options.every == 0 && frames.size() < inRange) {
    err << "plenoview-view: note: the page shows " << frames.size() << " of " << inRange
        << " frames, one in " << (inRange + kDefaultMaxFrames - 1) / kDefaultMaxFrames
        << "; --every 1 shows them all\n";
  }
}

}  // namespace

int runView(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  // OpenCV's own warnings would put a second, unclear line beside ours.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  try {
    const ViewOptions options = parseViewOptions(argc, argv);
    if (options.showHelp) {
      out << kViewUsage;
      return kExitSuccess;
    }
    makeView(options, out, err);
    return kExitSuccess;
  } catch (const UsageError& e) {
    err << "plenoview-view: " << e.what() << "\n\n" << kViewUsage;
    return kExitUsage;
  } catch (const PlenoviewError& e) {
    err << "plenoview-view: " << e.what() << "\n";
    return e.exitStatus;
  } catch (const cv::Exception& e) {
    err << "plenoview-view: image processing failed: " << e.err << "\n";
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    err << "plenoview-view: out of memory\n";
    return kExitFailure;
  }
}

}  // namespace plenoview::view
