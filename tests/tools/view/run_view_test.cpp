// The viewer run in-process on view folders written here: its mosaic, its
// lines, and the input it refuses without touching OUT. The page itself is
// driven in a real browser by tests/view/test_view_page.py.

#include "tools/view/run_view.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview::view {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int status;
  std::string out;
  std::string err;
};

Ran run(std::vector<std::string> args) {
  args.insert(args.begin(), "plenoview-view");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out;
  std::ostringstream err;
  const int status = runView(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

// View (x, y) of frame f, w x h: pixel (i, j) is BGR (10 x + i, 20 y + j,
// 100 + f).
cv::Mat view(int f, int x, int y, cv::Size size) {
  cv::Mat image(size, CV_8UC3);
  for (int j = 0; j < size.height; ++j) {
    for (int i = 0; i < size.width; ++i) {
      image.at<cv::Vec3b>(j, i) = cv::Vec3b(10 * x + i, 20 * y + j, 100 + f);
    }
  }
  return image;
}

// N x N views of `frames` as PNG files into <dir>/Result.
void writeViews(const std::string& dir, int n, cv::Size size, const std::vector<int>& frames) {
  fs::create_directories(dir + "/Result");
  char name[64];
  for (int f : frames) {
    for (int x = 0; x < n; ++x) {
      for (int y = 0; y < n; ++y) {
        std::snprintf(name, sizeof name, "/Result/Result_f%04d_c%02d%02d.png", f, x, y);
        cv::imwrite(dir + name, view(f, x, y, size));
      }
    }
  }
}

TEST(RunView, WritesThePageAndTheMosaicOfTheFirstFrameShown) {
  const std::string dir = testing::makeTestDir();
  writeViews(dir + "/run", 2, {3, 2}, {0, 1, 2});
  const Ran ran = run({"--frames", "1..2", dir + "/run", dir + "/page"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.err, "");

  // The mosaic of frame 1: view (x, y) at (3 x, 2 y), so mosaic pixel (X, Y)
  // is view (X / 3, Y / 2)'s pixel (X % 3, Y % 2).
  cv::Mat expected(4, 6, CV_8UC3);
  for (int Y = 0; Y < 4; ++Y) {
    for (int X = 0; X < 6; ++X) {
      expected.at<cv::Vec3b>(Y, X) = cv::Vec3b(10 * (X / 3) + X % 3, 20 * (Y / 2) + Y % 2, 101);
    }
  }
  EXPECT_TRUE(
      testing::sameImage(cv::imread(dir + "/page/mosaic.png", cv::IMREAD_UNCHANGED), expected));

  const std::string page = dir + "/page/index.html";
  const std::string size = std::to_string((fs::file_size(page) + 500) / 1000) + " kB";
  EXPECT_EQ(ran.out, "page: " + page + ", " + size +
                         " (2 of 3 frames, 2 x 2 views of 3 x 2, PNG)\n"
                         "mosaic: " +
                         dir + "/page/mosaic.png, 6 x 4 (frame 1)\n");
  // Nothing to fetch, and no temporary file left.
  EXPECT_EQ(testing::readFile(page).find("://"), std::string::npos);
  EXPECT_EQ(testing::namesIn(dir + "/page"),
            (std::vector<std::string>{"index.html", "mosaic.png"}));
}

// The view folder's own refusals (io/view_folder.h) are tested with it; a
// missing view here stands for all.
TEST(RunView, RefusesWithOneLineAndLeavesOutAsItWas) {
  struct Case {
    const char* name;
    std::vector<std::string> options;  // "@" stands for the case's folder
    std::string says;
    std::string out = "page";  // below the case's folder
    std::string removed = "";  // a view file removed from the folder
  };
  const std::vector<Case> cases = {
      {"missing", {}, "Result_f0000_c0100.png\" is missing", "page", "Result_f0000_c0100.png"},
      {"no frame in range", {"--frames", "2..3"}, "no frame of the folder lies in --frames 2..3"},
      // Four views of noise, 400 x 400 x 3 bytes, do not compress: over 1.9 MB.
      {"larger than --max-mb",
       {"--max-mb", "1"},
       "the page would be larger than 1.0 MB (--max-mb)"},
      {"OUT is the views", {}, "is the folder of the views", "run/Result"},
      {"no patch sizes", {"--patch-sizes", "@/run"}, "PatchSizes_f0000_t0.png\": no such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = testing::makeTestDir() + "/" + c.name;
    fs::create_directories(dir + "/run/Result");
    for (const char* name : {"c0000", "c0001", "c0100", "c0101"}) {
      cv::Mat noise(400, 400, CV_8UC3);
      cv::RNG(name[2] + name[4]).fill(noise, cv::RNG::UNIFORM, 0, 256);
      cv::imwrite(dir + "/run/Result/Result_f0000_" + name + ".png", noise);
    }
    if (!c.removed.empty()) fs::remove(dir + "/run/Result/" + c.removed);
    const std::string out = dir + "/" + c.out;
    fs::create_directories(out);
    if (c.out == "page") testing::writeTextFile(out + "/index.html", "the page before");
    const std::vector<std::string> before = testing::namesIn(out);

    std::vector<std::string> args = {dir + "/run", out};
    for (const std::string& option : c.options) {
      args.push_back(option[0] == '@' ? dir + option.substr(1) : option);
    }
    const Ran ran = run(args);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err.rfind("plenoview-view: ", 0), 0u) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    EXPECT_NE(ran.err.find(c.says), std::string::npos) << ran.err;
    EXPECT_EQ(testing::namesIn(out), before);
    if (c.out == "page") {
      EXPECT_EQ(testing::readFile(out + "/index.html"), "the page before");
    }
  }
}

TEST(RunView, UsageErrorsPrintTheUsageAndExitTwo) {
  const Ran ran = run({"only-one"});
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err.rfind("plenoview-view: expected RESULT and OUT, got 1 argument(s)\n\n"
                          "usage: plenoview-view [options] RESULT OUT\n",
                          0),
            0u)
      << ran.err;
}

}  // namespace
}  // namespace plenoview::view
