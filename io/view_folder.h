#pragma once

#include "io/video_source.h"

#include <opencv2/core.hpp>

#include <memory>
#include <string>
#include <vector>

namespace plenoview {

// The kinds of view file plenoview writes (io/png_view_files.h,
// io/view_videos.h).
enum class ViewFileFormat { kPng, kYuv, kY4m };

// The views of a run as plenoview wrote them into one folder, found by their
// names and read back frame by frame, to measure them or to show them:
//
//   png  Result_f<frame>_c<x:02><y:02>.png, one file per view and frame
//   yuv  Result_c<x:02><y:02>-<W>x<H>.yuv, raw 8-bit I420, one file per view
//   y4m  Result_c<x:02><y:02>.y4m, one file per view (any format the Y4M
//        reader takes: 8- or 10-bit 4:2:0, or mono)
//
// A folder holds views of one kind, all N x N of them, of one size, and (PNG)
// every view for each of its frames or (yuv, y4m) the same number of frames
// in every file. Names starting with '.' (the journals and the temporary files
// of a run) are passed over.
class ViewFolder {
 public:
  // Scans `path`: a folder holding Result/ (what --output-dir names), or a
  // folder holding the view files itself (Result/ given directly). Reads each
  // file's header (PNG: its first and last bytes; Y4M: the header and the
  // frame markers) and no pixel. Throws PlenoviewError, one line naming the
  // file at fault, for: a path that is not a folder; a Result entry that is
  // not a folder; an entry that is a symlink, is not a regular file, or is
  // not named as a view file; no view file at all; view files of two kinds;
  // a missing view (or, PNG, a view missing from one of the frames); views of
  // different sizes, of grey and colour, or of different frame counts; a PNG
  // that is not an 8-bit grey or colour PNG or is cut short; a size in a yuv
  // name that does not fit the file's length; a bad or cut Y4M file; a video
  // file without a frame.
  explicit ViewFolder(const std::string& path);

  const std::string& folder() const { return folder_; }  // where the view files are
  ViewFileFormat format() const { return format_; }
  int viewNum() const { return viewNum_; }  // N: views x, y = 0 .. N-1

  // The views' size as stored: a PNG's own (odd sides possible), a video
  // file's (padded to even by the yuv output). planeSize() is the size of the
  // Y plane that planes() gives: a PNG's padded to even (evenViewSize,
  // io/view_videos.h), a video file's own.
  cv::Size viewSize() const { return viewSize_; }
  cv::Size planeSize() const;

  bool grey() const { return grey_; }         // grey PNG or mono Y4M: the Y plane only
  int bitDepth() const { return bitDepth_; }  // 8, or 10 for 10-bit Y4M views

  // The frame indices held, in increasing order: those of the PNG names
  // (gaps possible), 0 .. count-1 for video files.
  const std::vector<int>& frames() const { return frames_; }

  // The file holding frame `frame` of view (x, y) (for video files the same
  // for every frame).
  std::string viewPath(int frame, int x, int y) const;

  // "c<x:02><y:02>", a view's name as in the file names.
  static std::string viewName(int x, int y);

  // Reads one view of the folder frame by frame. Holds one open file for a
  // video format and none for PNG; each reader serves one thread at a time.
  class Reader {
   public:
    // Frame `frame` (an index of frames()) of the view as I420 planes, into
    // `out` (memory reused): one CV_8UC1 image of planeSize().height x 3/2
    // rows (Y, then U, then V), CV_16UC1 for 10-bit views; planeSize().height
    // rows, the Y plane alone, when the folder is grey. A PNG view is
    // decoded and converted exactly as the yuv output is (viewToPlanes,
    // io/view_videos.h: padded to even, cv::cvtColor(COLOR_BGR2YUV_I420)).
    // Throws PlenoviewError naming the file when it cannot be decoded or no
    // longer fits the scan.
    void planes(int frame, cv::Mat& out);

    // The same frame for display, 8-bit: a PNG view as decoded (BGR or
    // grey); a video view as cv::cvtColor(COLOR_YUV2BGR_I420) of its planes,
    // 10-bit samples reduced first (v >> 2), the Y plane for mono.
    cv::Mat bgr(int frame);

   private:
    friend class ViewFolder;
    Reader(const ViewFolder& folder, int x, int y);
    cv::Mat decodePng(int frame) const;

    const ViewFolder* folder_;
    int x_;
    int y_;
    std::unique_ptr<VideoFrameSource> video_;
  };

  // A reader of view (x, y); opens its file for a video format.
  Reader reader(int x, int y) const;

 private:
  std::string folder_;
  ViewFileFormat format_ = ViewFileFormat::kPng;
  int viewNum_ = 0;
  cv::Size viewSize_;
  bool grey_ = false;
  int bitDepth_ = 8;
  std::vector<int> frames_;
};

}  // namespace plenoview
