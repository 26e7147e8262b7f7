#include "io/view_videos.h"

#include "base/interrupt.h"
#include "base/plenoview_error.h"
#include "tests/e2e/e2e_support.h"
#include "tests/io/video_bytes.h"
#include "tests/io/write_frame.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using Grid = std::vector<std::vector<cv::Mat>>;

// An N x N grid of views of `size`, different for every frame and view.
Grid viewGrid(int n, cv::Size size, int type, int frame) {
  Grid grid(n, std::vector<cv::Mat>(n));
  for (int x = 0; x < n; ++x) {
    for (int y = 0; y < n; ++y) {
      grid[x][y].create(size, type);
      cv::RNG rng(static_cast<uint64_t>(frame * 100 + x * 10 + y + 1));
      rng.fill(grid[x][y], cv::RNG::UNIFORM, 0, 256);
    }
  }
  return grid;
}

TEST(ViewToPlanes, PadsOddViewsByTheirLastColumnAndRowAndGivesGreyNeutralChroma) {
  // 5 x 3 colour view: the padded 6 x 4 repeats column 4 and then row 2.
  const cv::Mat view = viewGrid(1, {5, 3}, CV_8UC3, 0)[0][0];
  cv::Mat padded(4, 6, CV_8UC3);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 6; ++c)
      padded.at<cv::Vec3b>(r, c) = view.at<cv::Vec3b>(std::min(r, 2), std::min(c, 4));
  }
  cv::Mat expected;
  cv::cvtColor(padded, expected, cv::COLOR_BGR2YUV_I420);
  EXPECT_TRUE(testing::sameImage(viewToPlanes(view), expected));

  // 3 x 3 grey: Y is the padded view (4 x 4), U and V 2 x 2 each of 128.
  const cv::Mat grey = (cv::Mat_<uchar>(3, 3) << 1, 2, 3, 4, 5, 6, 7, 8, 9);
  const cv::Mat greyPlanes = (cv::Mat_<uchar>(6, 4) << 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 7, 8, 9,
                              9, 128, 128, 128, 128, 128, 128, 128, 128);
  EXPECT_TRUE(testing::sameImage(viewToPlanes(grey), greyPlanes));
}

// Writes `frames` of an N x N grid in the order given into `folder`.
void writeFrames(const std::string& folder, ViewVideoFormat format, int n, cv::Size size, int type,
                 const std::vector<int>& frames) {
  ViewVideoFiles writer(folder, format, n, 30);
  for (const int k : frames) testing::writeFrame(writer, viewGrid(n, size, type, k), k);
}

TEST(ViewVideoFiles, EveryFrameLandsAtItsPlaceWhateverTheOrderAndTheWriter) {
  const std::string dir = testing::makeTestDir();
  for (const ViewVideoFormat format : {ViewVideoFormat::kYuv, ViewVideoFormat::kY4m}) {
    for (const int type : {CV_8UC3, CV_8UC1}) {
      const bool y4m = format == ViewVideoFormat::kY4m;
      SCOPED_TRACE(std::string(y4m ? "y4m" : "yuv") + (type == CV_8UC3 ? " colour" : " grey"));
      const std::string tag = std::string(y4m ? "y4m" : "yuv") + std::to_string(type);
      const std::string inOrder = dir + "/in-order-" + tag;
      const std::string mixed = dir + "/mixed-" + tag;
      // One writer frame by frame, against two writers (two chunks) in the
      // opposite order, one of them writing frame 1 twice.
      writeFrames(inOrder, format, 2, {5, 3}, type, {0, 1, 2});
      writeFrames(mixed, format, 2, {5, 3}, type, {2, 1});
      writeFrames(mixed, format, 2, {5, 3}, type, {1, 0});

      std::map<std::string, std::string> expected;
      for (int x = 0; x < 2; ++x) {
        for (int y = 0; y < 2; ++y) {
          std::string bytes = y4m ? "YUV4MPEG2 W6 H4 F30:1 Ip A1:1 C420jpeg\n" : "";
          for (int k = 0; k < 3; ++k) {
            bytes += (y4m ? "FRAME\n" : "") +
                     testing::bytesOf(viewToPlanes(viewGrid(2, {5, 3}, type, k)[x][y]));
          }
          expected[viewVideoFileName(x, y, format, {6, 4})] = bytes;
        }
      }
      for (const std::string& folder : {inOrder, mixed}) {
        // The view folder holds the views only; one journal per writer
        // lies beside it.
        EXPECT_TRUE(testing::filesIn(folder + "/Result") == expected) << folder;
        const std::string journal = std::string("done-") + (y4m ? "y4m" : "yuv") + "-2x2-";
        int journals = 0;
        for (const auto& file : testing::filesIn(folder + "/.plenoview")) {
          journals += file.first.rfind(journal, 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(journals, folder == mixed ? 2 : 1);
        EXPECT_EQ(ViewVideoFiles(folder, format, 2, 30).completeFrames(0, 10),
                  (std::vector<int>{0, 1, 2}));
      }
    }
  }
}

TEST(ViewVideoFiles, AFrameInGroupsIsRecordedOnlyWholeAndNeverWhenAbandoned) {
  // 2 x 2 views, a grid row per group. Frame 0 goes in whole; frame 1 is
  // abandoned after its first row; frame 2 goes in whole after it. Only 0 and
  // 2 are recorded, and a frame is not recorded before its end.
  const std::string dir = testing::makeTestDir();
  ViewVideoFiles views(dir, ViewVideoFormat::kYuv, 2, 30);
  auto row = [](const Grid& grid, int y) {
    return std::vector<FinishedView>{{cv::Point(0, y), grid[0][y]}, {cv::Point(1, y), grid[1][y]}};
  };
  for (int k = 0; k < 3; ++k) {
    const Grid grid = viewGrid(2, {4, 2}, CV_8UC3, k);
    views.beginFrame(k);
    views.writeViews(row(grid, 0));
    if (k == 1) {
      views.abandonFrame();
      continue;
    }
    views.writeViews(row(grid, 1));
    EXPECT_EQ(views.completeFrames(k, k + 1), std::vector<int>{}) << "frame " << k;
    views.endFrame();
  }
  EXPECT_EQ(views.completeFrames(0, 10), (std::vector<int>{0, 2}));
}

TEST(ViewVideoFiles, ResumeTrustsOnlyRecordedFramesWhoseFilesAreAllThere) {
  const std::string dir = testing::makeTestDir();
  const auto complete = [&](ViewVideoFormat format, int n, int fps, int first, int end) {
    return ViewVideoFiles(dir, format, n, fps).completeFrames(first, end);
  };
  writeFrames(dir, ViewVideoFormat::kY4m, 2, {6, 4}, CV_8UC3, {0, 1, 2});
  EXPECT_EQ(complete(ViewVideoFormat::kY4m, 2, 30, 0, 3), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(complete(ViewVideoFormat::kY4m, 2, 30, 1, 2), (std::vector<int>{1}));
  EXPECT_TRUE(complete(ViewVideoFormat::kY4m, 3, 30, 0, 3).empty());  // other N
  EXPECT_TRUE(complete(ViewVideoFormat::kYuv, 2, 30, 0, 3).empty());  // other format
  // Another frame rate writes another header and moves every frame.
  EXPECT_TRUE(complete(ViewVideoFormat::kY4m, 2, 120, 0, 3).empty());

  // Lines that a cut write or a stray edit left are not trusted, even with
  // files long enough: frame 5 has no end of line, 4 and 6 are malformed.
  testing::writeTextFile(dir + "/.plenoview/done-y4m-2x2-edited", "4 6x4 \n6 6x\n5 6x4");
  for (const char* name : {"c0000", "c0100", "c0001", "c0101"}) {
    std::ofstream(dir + "/Result/Result_" + name + ".y4m", std::ios::app)
        << std::string(42 * 5, 'x');
  }
  EXPECT_EQ(complete(ViewVideoFormat::kY4m, 2, 30, 0, 10), (std::vector<int>{0, 1, 2}));

  // A journal an earlier version left hidden in the view folder counts, and
  // moves beside it when a run begins.
  fs::rename(dir + "/.plenoview/done-y4m-2x2-edited", dir + "/Result/.done-y4m-2x2-old");
  testing::writeTextFile(dir + "/Result/.done-y4m-2x2-older", "3 6x4\n");
  EXPECT_EQ(complete(ViewVideoFormat::kY4m, 2, 30, 0, 10), (std::vector<int>{0, 1, 2, 3}));
  ViewVideoFiles(dir, ViewVideoFormat::kY4m, 2, 30).removeLeftovers(0, 10);
  EXPECT_EQ(testing::filesIn(dir + "/Result").size(), 4u);
  EXPECT_EQ(testing::readFile(dir + "/.plenoview/done-y4m-2x2-older"), "3 6x4\n");
  EXPECT_EQ(complete(ViewVideoFormat::kY4m, 2, 30, 0, 10), (std::vector<int>{0, 1, 2, 3}));

  // A view file cut inside frame 2, or one missing, undoes the frames it lacks.
  fs::resize_file(dir + "/Result/Result_c0100.y4m", 39 + 2 * 42 + 41);
  EXPECT_EQ(complete(ViewVideoFormat::kY4m, 2, 30, 0, 3), (std::vector<int>{0, 1}));
  fs::remove(dir + "/Result/Result_c0001.y4m");
  EXPECT_TRUE(complete(ViewVideoFormat::kY4m, 2, 30, 0, 3).empty());
}

TEST(ViewVideoFiles, OnlyRegularFilesAreWrittenAndAnInterruptedFrameIsNotRecorded) {
  const std::string dir = testing::makeTestDir();
  const Grid grid = viewGrid(2, {6, 4}, CV_8UC3, 0);
  fs::create_directories(dir + "/fifo/Result");
  ASSERT_EQ(::mkfifo((dir + "/fifo/Result/Result_c0000-6x4.yuv").c_str(), 0600), 0);
  fs::create_directories(dir + "/link/Result");
  fs::create_symlink(dir + "/elsewhere.yuv", dir + "/link/Result/Result_c0100-6x4.yuv");
  struct Case {
    const char* folder;
    std::string message;
  };
  const Case cases[] = {
      {"fifo", "cannot write the view \"" + dir + "/fifo/Result/Result_c0000-6x4.yuv\": "},
      {"link", "cannot write the view \"" + dir + "/link/Result/Result_c0100-6x4.yuv\": "},
  };
  for (const Case& c : cases) {
    ViewVideoFiles writer(dir + "/" + c.folder, ViewVideoFormat::kYuv, 2, 30);
    try {
      testing::writeFrame(writer, grid, 0);
      ADD_FAILURE() << c.folder << ": written";
    } catch (const PlenoviewError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message);
    }
    EXPECT_TRUE(writer.completeFrames(0, 1).empty());
  }
  EXPECT_FALSE(fs::exists(dir + "/elsewhere.yuv"));

  ViewVideoFiles writer(dir + "/stopped", ViewVideoFormat::kYuv, 2, 30);
  requestInterrupt(SIGINT);
  EXPECT_THROW(testing::writeFrame(writer, grid, 3), InterruptedError);
  requestInterrupt(0);
  EXPECT_EQ(testing::filesIn(dir + "/stopped/Result").size(), 1u);  // the first view, no journal
  EXPECT_TRUE(writer.completeFrames(0, 9).empty());
}

}  // namespace
}  // namespace plenoview
