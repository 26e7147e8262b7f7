#include "io/view_folder.h"

#include "io/png_view_files.h"
#include "io/view_videos.h"
#include "tests/io/write_frame.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

// View (x, y) of frame k: 5 x 3 pixels (odd, so the planes are padded),
// different for every view and frame.
cv::Mat view(int k, int x, int y, int type) {
  cv::Mat image(3, 5, type);
  cv::RNG(static_cast<uint64_t>(100 * k + 10 * x + y + 1)).fill(image, cv::RNG::UNIFORM, 0, 256);
  return image;
}

// Frames `frames` of 2 x 2 views into <dir>/Result, written by the writer of
// `format` ("png", "yuv" or "y4m").
void writeRun(const std::string& dir, const std::string& format, int type,
              const std::vector<int>& frames = {0, 1}) {
  PngViewFiles png(dir, 2);
  ViewVideoFiles video(dir, format == "yuv" ? ViewVideoFormat::kYuv : ViewVideoFormat::kY4m, 2, 30);
  for (int k : frames) {
    ViewGrid grid(2, std::vector<cv::Mat>(2));
    for (int x = 0; x < 2; ++x) {
      for (int y = 0; y < 2; ++y) grid[x][y] = view(k, x, y, type);
    }
    if (format == "png") {
      testing::writeFrame(png, grid, k);
    } else {
      testing::writeFrame(video, grid, k);
    }
  }
}

TEST(ViewFolder, ReadsBackWhatEachWriterWroteAsTheYuvOutputsPlanes) {
  const std::string dir = testing::makeTestDir();
  for (const char* format : {"png", "yuv", "y4m"}) {
    for (const int type : {CV_8UC3, CV_8UC1}) {
      const std::string run = dir + "/" + format + std::to_string(type);
      SCOPED_TRACE(run);
      writeRun(run, format, type);
      const bool png = std::string(format) == "png";
      // The folder holding Result/, and Result/ itself.
      for (const std::string& path : {run, run + "/Result"}) {
        const ViewFolder folder(path);
        EXPECT_EQ(folder.folder(), run + "/Result");
        EXPECT_EQ(folder.viewNum(), 2);
        EXPECT_EQ(folder.viewSize(), png ? cv::Size(5, 3) : cv::Size(6, 4));
        EXPECT_EQ(folder.planeSize(), cv::Size(6, 4));
        EXPECT_EQ(folder.frames(), (std::vector<int>{0, 1}));
        // A grey PNG view is its Y plane; the yuv writer adds neutral chroma.
        EXPECT_EQ(folder.grey(), png && type == CV_8UC1);
        for (int x = 0; x < 2; ++x) {
          for (int y = 0; y < 2; ++y) {
            ViewFolder::Reader reader = folder.reader(x, y);
            for (int k = 0; k < 2; ++k) {
              cv::Mat expected = viewToPlanes(view(k, x, y, type));
              if (folder.grey()) expected = expected.rowRange(0, 4);
              cv::Mat planes;
              reader.planes(k, planes);
              EXPECT_TRUE(testing::sameImage(planes, expected)) << x << y << k;
            }
          }
        }
      }
      // For display: the PNG as written; a video view converted back.
      const cv::Mat shown = ViewFolder(run).reader(1, 0).bgr(1);
      if (png) {
        EXPECT_TRUE(testing::sameImage(shown, view(1, 1, 0, type)));
      } else {
        cv::Mat expected;
        cv::cvtColor(viewToPlanes(view(1, 1, 0, type)), expected, cv::COLOR_YUV2BGR_I420);
        EXPECT_TRUE(testing::sameImage(shown, expected));
      }
    }
  }
}

TEST(ViewFolder, KeepsTheFrameIndicesOfPngNames) {
  const std::string dir = testing::makeTestDir();
  writeRun(dir, "png", CV_8UC3, {7, 12});
  EXPECT_EQ(ViewFolder(dir).frames(), (std::vector<int>{7, 12}));
}

struct BadFolder {
  const char* name;
  const char* format;  // the run written first
  std::function<void(const std::string& result)> spoil;
  std::string message;  // the refusal must contain it
};

void cut(const std::string& path, int bytes) { fs::resize_file(path, fs::file_size(path) - bytes); }

TEST(ViewFolder, RefusesWhatIsNotAWholeRunWithOneLineNamingTheFile) {
  const cv::Mat wide(3, 6, CV_8UC3, cv::Scalar::all(9));
  const BadFolder cases[] = {
      {"empty", "png", [](const std::string& r) { fs::remove_all(r), fs::create_directory(r); },
       "/Result\" holds no view files"},
      {"name not as written", "png",
       [](const std::string& r) {
         fs::copy(r + "/Result_f0000_c0000.png", r + "/Result_f0_c0000.png");
       },
       "/Result/Result_f0_c0000.png\" is not a view file"},
      {"subfolder", "png", [](const std::string& r) { fs::create_directory(r + "/more"); },
       "/Result/more\" is not a regular file"},
      {"Result a file", "png",
       [](const std::string& r) { fs::remove_all(r), testing::writeTextFile(r, "x"); },
       "/Result\" is not a folder"},
      {"two kinds", "png",
       [](const std::string& r) { testing::writeTextFile(r + "/Result_c0000-6x4.yuv", ""); },
       "/Result/Result_f0000_c0000.png\" is a PNG view and \"Result_c0000-6x4.yuv\" a yuv view"},
      {"view missing", "y4m", [](const std::string& r) { fs::remove(r + "/Result_c0100.y4m"); },
       "/Result/Result_c0100.y4m\" is missing"},
      {"view missing from a frame", "png",
       [](const std::string& r) { fs::remove(r + "/Result_f0001_c0001.png"); },
       "/Result/Result_f0001_c0001.png\" is missing: frame 1 needs all 2 x 2 views"},
      {"png of another size", "png",
       [&](const std::string& r) { cv::imwrite(r + "/Result_f0001_c0000.png", wide); },
       "/Result/Result_f0001_c0000.png\" is 6 x 3 colour, \""},
      {"png 16-bit", "png",
       [](const std::string& r) {
         cv::imwrite(r + "/Result_f0000_c0001.png", cv::Mat(3, 5, CV_16UC3, cv::Scalar::all(9)));
       },
       "/Result/Result_f0000_c0001.png\" is a 16-bit PNG of colour type 2"},
      {"yuv two sizes", "yuv",
       [](const std::string& r) {
         fs::rename(r + "/Result_c0101-6x4.yuv", r + "/Result_c0101-4x6.yuv");
       },
       "/Result/Result_c0101-4x6.yuv\" names the size 4 x 6"},
      {"yuv frame counts differ", "yuv",
       [](const std::string& r) { cut(r + "/Result_c0001-6x4.yuv", 36); },
       "/Result/Result_c0001-6x4.yuv\" holds 1 frame of 6 x 4, 8-bit 4:2:0, \""},
      {"y4m cut", "y4m", [](const std::string& r) { cut(r + "/Result_c0000.y4m", 3); },
       "/Result/Result_c0000.y4m\" ends inside frame 1"},
  };
  const std::string dir = testing::makeTestDir();
  for (const BadFolder& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string run = dir + "/" + std::to_string(&c - cases);
    writeRun(run, c.format, CV_8UC3);
    c.spoil(run + "/Result");
    EXPECT_NE(testing::refusal([&] { ViewFolder folder(run); }).find(c.message), std::string::npos)
        << testing::refusal([&] { ViewFolder folder(run); });
  }
  EXPECT_NE(testing::refusal([&] { ViewFolder folder(dir + "/none"); }).find("is not a folder"),
            std::string::npos);
}

}  // namespace
}  // namespace plenoview
