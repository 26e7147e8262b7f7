#include "io/view_folder.h"

#include "base/parallel_work.h"
#include "base/plenoview_error.h"
#include "io/image_headers.h"
#include "io/png_view_files.h"
#include "io/view_videos.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

namespace plenoview {

namespace {

namespace fs = std::filesystem;

const char kViewNames[] = "Result_fFFFF_cXXYY.png, Result_cXXYY-WxH.yuv or Result_cXXYY.y4m";

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

std::string framesText(long long count) {
  return std::to_string(count) + (count == 1 ? " frame" : " frames");
}

std::string sizeText(cv::Size size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

const char* formatName(ViewFileFormat format) {
  switch (format) {
    case ViewFileFormat::kPng:
      return "PNG";
    case ViewFileFormat::kYuv:
      return "yuv";
    case ViewFileFormat::kY4m:
      return "y4m";
  }
  return "";
}

// A view file as its name says: its kind, frame (PNG), view and (yuv) size.
struct ViewName {
  ViewFileFormat format = ViewFileFormat::kPng;
  int frame = 0;
  int x = 0;
  int y = 0;
  cv::Size size;
};

// Reads `name` as one of the names plenoview writes, exactly as it writes
// them (the name made again from the numbers must be the same text), so that
// "Result_f12_c0000.png" or "Result_c0000-0640x480.yuv" are not taken for
// view files.
bool parseViewName(const std::string& name, ViewName& view) {
  int used = 0;
  const char* text = name.c_str();
  const auto whole = [&](int fields, int expected) {
    return fields == expected && used == static_cast<int>(name.size()) && view.frame >= 0 &&
           view.x >= 0 && view.y >= 0;
  };
  used = 0;
  if (whole(std::sscanf(text, "Result_f%9d_c%2d%2d.png%n", &view.frame, &view.x, &view.y, &used),
            3)) {
    view.format = ViewFileFormat::kPng;
    return viewFileName(view.frame, view.x, view.y) == name;
  }
  view.frame = 0;
  used = 0;
  if (whole(std::sscanf(text, "Result_c%2d%2d-%9dx%9d.yuv%n", &view.x, &view.y, &view.size.width,
                        &view.size.height, &used),
            4)) {
    view.format = ViewFileFormat::kYuv;
    return viewVideoFileName(view.x, view.y, ViewVideoFormat::kYuv, view.size) == name;
  }
  used = 0;
  if (whole(std::sscanf(text, "Result_c%2d%2d.y4m%n", &view.x, &view.y, &used), 2)) {
    view.format = ViewFileFormat::kY4m;
    return viewVideoFileName(view.x, view.y, ViewVideoFormat::kY4m, {}) == name;
  }
  return false;
}

// The folder holding the view files: `path` itself, or its Result/.
std::string locateViewFiles(const std::string& path) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    throw PlenoviewError(inQuotes(path) + " is not a folder of views");
  }
  const fs::path result = fs::path(path) / "Result";
  const fs::file_status status = fs::symlink_status(result, error);
  if (error || !fs::exists(status)) return path;
  if (!fs::is_directory(status)) {
    throw PlenoviewError(inQuotes(result.string()) +
                         (fs::is_symlink(status) ? " is a symbolic link" : " is not a folder") +
                         "; the views are read from a folder Result/ of their own");
  }
  return result.string();
}

// A video view file opened as the lenslet video reader opens a video: its
// format and frames checked. '%' is doubled, since the reader takes a path
// in which "%%" stands for '%'.
std::unique_ptr<VideoFrameSource> openVideoView(const std::string& path, ViewFileFormat format,
                                                cv::Size namedSize) {
  std::string escaped;
  for (char c : path) escaped += c == '%' ? std::string("%%") : std::string(1, c);
  RawVideoOptions options;
  if (format == ViewFileFormat::kYuv) {
    options.sizeText = std::to_string(namedSize.width) + "x" + std::to_string(namedSize.height);
    options.pixelFormat = "yuv420p";
  }
  return std::make_unique<VideoFrameSource>(escaped, options);
}

}  // namespace

ViewFolder::ViewFolder(const std::string& path) : folder_(locateViewFiles(path)) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  if (error) {
    throw PlenoviewError("cannot read the folder " + inQuotes(folder_) + ": " + error.message());
  }
  std::sort(names.begin(), names.end());

  std::vector<ViewName> views;
  std::string firstName;  // the first view file, for messages
  for (const std::string& name : names) {
    if (name[0] == '.') continue;  // journals, temporary files
    const std::string file = inQuotes((fs::path(folder_) / name).string());
    const fs::file_status status = fs::symlink_status(fs::path(folder_) / name, error);
    if (fs::is_symlink(status)) {
      throw PlenoviewError(file + " is a symbolic link; a view folder holds the view files " +
                           "themselves");
    }
    if (error || !fs::is_regular_file(status)) {
      throw PlenoviewError(file + " is not a regular file; a view folder holds only view files");
    }
    ViewName view;
    if (!parseViewName(name, view)) {
      throw PlenoviewError(file + " is not a view file (" + kViewNames + ")");
    }
    if (!views.empty() && view.format != views[0].format) {
      throw PlenoviewError(file + " is a " + formatName(view.format) + " view and " +
                           inQuotes(firstName) + " a " + formatName(views[0].format) +
                           " view; a view folder must hold views of one kind");
    }
    if (views.empty()) firstName = name;
    views.push_back(view);
  }
  if (views.empty()) {
    throw PlenoviewError(inQuotes(folder_) + " holds no view files (" + kViewNames + ")");
  }
  format_ = views[0].format;
  for (const ViewName& view : views) viewNum_ = std::max({viewNum_, view.x + 1, view.y + 1});
  const auto pathOf = [&](const std::string& name) {
    return inQuotes((fs::path(folder_) / name).string());
  };

  if (format_ == ViewFileFormat::kPng) {
    std::set<std::tuple<int, int, int>> held;  // frame, x, y
    std::set<int> frames;
    for (const ViewName& view : views) {
      held.insert({view.frame, view.x, view.y});
      frames.insert(view.frame);
    }
    frames_.assign(frames.begin(), frames.end());
    for (int frame : frames_) {
      for (int x = 0; x < viewNum_; ++x) {
        for (int y = 0; y < viewNum_; ++y) {
          if (held.count({frame, x, y}) == 0) {
            throw PlenoviewError(pathOf(viewFileName(frame, x, y)) + " is missing: frame " +
                                 std::to_string(frame) + " needs all " + std::to_string(viewNum_) +
                                 " x " + std::to_string(viewNum_) + " views");
          }
        }
      }
    }
    // The headers are read in parallel (thousands of small reads), then
    // checked in name order, so that the file named is the first at fault.
    std::vector<PngEnds> ends(views.size());
    parallelForEach(static_cast<int>(views.size()), [&](int i) {
      const std::string name = viewFileName(views[i].frame, views[i].x, views[i].y);
      ends[i] = inspectPngEnds((fs::path(folder_) / name).string());
    });
    for (const ViewName& view : views) {
      const std::string name = viewFileName(view.frame, view.x, view.y);
      const PngEnds& png = ends[&view - views.data()];
      if (!png.png) throw PlenoviewError(pathOf(name) + " is not a sound PNG file");
      if (!png.whole)
        throw PlenoviewError(pathOf(name) + " is cut short (no IEND chunk at its end)");
      if (png.bitDepth != 8 || (png.colourType != 0 && png.colourType != 2)) {
        throw PlenoviewError(pathOf(name) + " is a " + std::to_string(png.bitDepth) +
                             "-bit PNG of colour type " + std::to_string(png.colourType) +
                             "; views are 8-bit grey (0) or colour (2)");
      }
      const bool grey = png.colourType == 0;
      if (&view == &views[0]) {
        viewSize_ = png.size;
        grey_ = grey;
      } else if (png.size != viewSize_ || grey != grey_) {
        throw PlenoviewError(pathOf(name) + " is " + sizeText(png.size) +
                             (grey ? " grey" : " colour") + ", " + pathOf(firstName) + " " +
                             sizeText(viewSize_) + (grey_ ? " grey" : " colour") +
                             "; the views of a folder must be alike");
      }
    }
    return;
  }

  // One video file per view: all of one size, all there, alike in format and
  // frame count.
  std::map<std::pair<int, int>, cv::Size> named;
  for (const ViewName& view : views) {
    const std::string name = viewVideoFileName(
        view.x, view.y,
        format_ == ViewFileFormat::kYuv ? ViewVideoFormat::kYuv : ViewVideoFormat::kY4m, view.size);
    if (view.size != views[0].size) {
      throw PlenoviewError(pathOf(name) + " names the size " + sizeText(view.size) + ", " +
                           pathOf(firstName) + " " + sizeText(views[0].size) +
                           "; the views of a folder must have one size");
    }
    named[{view.x, view.y}] = view.size;
  }
  viewSize_ = views[0].size;  // names the yuv files until the headers are read
  VideoFormat first;
  long long count = -1;
  for (int x = 0; x < viewNum_; ++x) {
    for (int y = 0; y < viewNum_; ++y) {
      const std::string path = viewPath(0, x, y);
      if (named.count({x, y}) == 0) {
        throw PlenoviewError(inQuotes(path) + " is missing: the folder holds views up to " +
                             std::to_string(viewNum_) + " x " + std::to_string(viewNum_));
      }
      const auto video = openVideoView(path, format_, views[0].size);
      const VideoFormat& format = video->format();
      if (count < 0) {
        first = format;
        count = video->frameCount();
        if (count == 0) throw PlenoviewError(inQuotes(path) + " holds no frame");
      } else if (format.size != first.size || format.bitDepth != first.bitDepth ||
                 format.mono != first.mono || video->frameCount() != count) {
        throw PlenoviewError(inQuotes(path) + " holds " + framesText(video->frameCount()) + " of " +
                             format.describe() + ", " + inQuotes(viewPath(0, 0, 0)) + " " +
                             std::to_string(count) + " of " + first.describe() +
                             "; the views of a folder must be alike");
      }
    }
  }
  viewSize_ = first.size;
  grey_ = first.mono;
  bitDepth_ = first.bitDepth;
  for (int k = 0; k < count; ++k) frames_.push_back(k);
}

cv::Size ViewFolder::planeSize() const {
  // Video files hold their planes as they are (4:2:0 sizes are even already).
  return format_ == ViewFileFormat::kPng ? evenViewSize(viewSize_) : viewSize_;
}

std::string ViewFolder::viewPath(int frame, int x, int y) const {
  const std::string name = format_ == ViewFileFormat::kPng ? viewFileName(frame, x, y)
                           : format_ == ViewFileFormat::kYuv
                               ? viewVideoFileName(x, y, ViewVideoFormat::kYuv, viewSize_)
                               : viewVideoFileName(x, y, ViewVideoFormat::kY4m, viewSize_);
  return (fs::path(folder_) / name).string();
}

std::string ViewFolder::viewName(int x, int y) {
  char name[16];
  std::snprintf(name, sizeof name, "c%02d%02d", x, y);
  return name;
}

ViewFolder::Reader ViewFolder::reader(int x, int y) const { return Reader(*this, x, y); }

ViewFolder::Reader::Reader(const ViewFolder& folder, int x, int y)
    : folder_(&folder), x_(x), y_(y) {
  if (folder.format_ != ViewFileFormat::kPng) {
    video_ = openVideoView(folder.viewPath(0, x, y), folder.format_, folder.viewSize_);
  }
}

cv::Mat ViewFolder::Reader::decodePng(int frame) const {
  const std::string path = folder_->viewPath(frame, x_, y_);
  const cv::Mat view = cv::imread(path, cv::IMREAD_UNCHANGED);
  if (view.empty()) throw PlenoviewError("cannot decode the view " + inQuotes(path));
  if (view.size() != folder_->viewSize_ || view.type() != (folder_->grey_ ? CV_8UC1 : CV_8UC3)) {
    throw PlenoviewError(inQuotes(path) + " has changed since the folder was read: it is " +
                         sizeText(view.size()) + " with " + std::to_string(view.channels()) +
                         " channel(s)");
  }
  return view;
}

void ViewFolder::Reader::planes(int frame, cv::Mat& out) {
  if (video_) {
    video_->samples(frame, out);
    return;
  }
  const cv::Mat view = decodePng(frame);
  if (!folder_->grey_) {
    viewToPlanes(view, out);
    return;
  }
  // The Y rows of what the yuv output writes for a grey view.
  thread_local cv::Mat planes;
  viewToPlanes(view, planes);
  planes.rowRange(0, folder_->planeSize().height).copyTo(out);
}

cv::Mat ViewFolder::Reader::bgr(int frame) {
  return video_ ? video_->frame(frame) : decodePng(frame);
}

}  // namespace plenoview
