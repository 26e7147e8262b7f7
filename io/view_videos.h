#pragma once

#include "io/view_sink.h"

#include <opencv2/core.hpp>

#include <string>
#include <utility>
#include <vector>

namespace plenoview {

// One video file per view instead of one PNG file per view and frame, in the
// layout the coding workflow reads: raw 8-bit I420 ("yuv") or the same frames
// in a YUV4MPEG2 stream ("y4m"). Frame k of a sequence sits at a fixed place
// in every view file, so that runs over different frames of one sequence (the
// chunks of scripts/run-parallel, on one machine or several) write into the
// same files at once, and a frame that a killed run left half written is
// simply written again.

enum class ViewVideoFormat { kYuv, kY4m };

// A view's size once padded to even (4:2:0 needs an even width and height).
cv::Size evenViewSize(cv::Size viewSize);

// "Result_c<x:02><y:02>-<W>x<H>.yuv" (the workflow's scripts take a view's
// size from the text after the last '-') or "Result_c<x:02><y:02>.y4m", with
// `evenSize` the padded size.
std::string viewVideoFileName(int x, int y, ViewVideoFormat format, cv::Size evenSize);

// "YUV4MPEG2 W<w> H<h> F<fps>:1 Ip A1:1 C420jpeg\n", the same bytes from
// every writer of a file.
std::string viewVideoHeader(cv::Size evenSize, int fps);

// Where frame `index` starts in a view file and how many bytes it takes:
// raw I420, W x H x 3/2 bytes at index x that; Y4M, "FRAME\n" and the same
// planes, after the header and `index` earlier frames.
long long viewVideoFrameOffset(ViewVideoFormat format, cv::Size evenSize, int fps, long long index);
long long viewVideoFrameBytes(ViewVideoFormat format, cv::Size evenSize);

// A view (8-bit BGR or grey) as 8-bit I420 planes, one CV_8UC1 image of
// H x 3/2 rows: a view of odd width or height is first padded to even by
// repeating its last column or row (cv::copyMakeBorder, BORDER_REPLICATE);
// colour is converted by cv::cvtColor(COLOR_BGR2YUV_I420); a grey view
// becomes the Y plane, with neutral chroma (128).
cv::Mat viewToPlanes(const cv::Mat& view);
// The same into `planes`, whose memory is reused.
void viewToPlanes(const cv::Mat& view, cv::Mat& planes);

// The folder beside Result/ that holds the journals of the view videos, so
// that the view folder holds views only.
constexpr const char* kJournalFolder = ".plenoview";

// The views of a run as one video file per view in <outputDir>/Result,
// viewVideoFileName(x, y, format, even size), with a journal of the frames
// it completed in a file of its own in <outputDir>/.plenoview,
// "done-<yuv|y4m>-<N>x<N>-<token>" (the token drawn once per writer), one
// line "<frame> <W>x<H>" each.
//
// A frame is recorded only once all N x N of its views are written and
// flushed to the disk (fdatasync), and the line itself is flushed before
// write returns, so after a kill, a full disk or a power loss the journals
// name only frames whose views are all on the disk. Each writer appends to
// its own journal, since appends from several machines to one file on a
// network file system may overwrite one another.
class ViewVideoFiles : public ViewSink {
 public:
  // Nothing is created before the first write.
  ViewVideoFiles(const std::string& outputDir, ViewVideoFormat format, int viewNum, int fps);
  ~ViewVideoFiles() override;
  ViewVideoFiles(const ViewVideoFiles&) = delete;
  ViewVideoFiles& operator=(const ViewVideoFiles&) = delete;

  // Writes frame `frameIndex` of every view, view (x, y) into its own file,
  // and endFrame records the frame once all N x N are written and flushed.
  // beginFrame creates the Result folder when missing. Files are opened
  // without truncation and written at the frame's place only (the Y4M header
  // too, at the start), so nothing written before is removed when a view
  // cannot be written: the frame is simply not recorded (abandonFrame), and
  // a rerun writes it again. writeViews throws PlenoviewError naming the file
  // ("cannot write the view ..."), or InterruptedError between two views
  // after Ctrl-C or SIGTERM.
  void beginFrame(int frameIndex) override;
  void writeViews(const std::vector<FinishedView>& views) override;
  void endFrame() override;
  void abandonFrame() override;

  // Nothing to remove: a frame cut short is only missing from the journals.
  // Journals of this format and N that an earlier version left hidden in
  // the view folder (".done-...") move to the journal folder. Returns 0.
  int removeLeftovers(int first, int end) override;

  // The frames of first .. end-1 that some writer's journal records (in the
  // journal folder, or left in the view folder by an earlier version), for
  // this format and N, and whose N x N view files all exist, reach past the
  // frame and (Y4M) start with the header of this frame rate.
  std::vector<int> completeFrames(int first, int end) const override;

 private:
  void record(int frameIndex, cv::Size evenSize);

  std::string folder_;         // <outputDir>/Result
  std::string journalFolder_;  // <outputDir>/.plenoview
  ViewVideoFormat format_;
  int viewNum_;
  int fps_;
  std::string journalPath_;
  int journal_ = -1;
  bool folderSynced_ = false;
  // The frame in hand: its index, its views' even size, how many of them are
  // written, and the files written but not yet flushed.
  int frame_ = -1;
  cv::Size evenSize_;
  int writtenViews_ = 0;
  std::vector<std::pair<int, std::string>> open_;
  std::vector<cv::Mat> planes_;  // converted views, reused
};

}  // namespace plenoview
