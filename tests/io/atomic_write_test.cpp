#include "io/atomic_write.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

// A view encoded and written as the PNG files write it.
void writePngAtomically(const std::string& path, const cv::Mat& image) {
  writeEncodedAtomically(path, encodePng(path, image));
}

cv::Mat colourRamp() {
  cv::Mat image(6, 9, CV_8UC3);
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) image.at<cv::Vec3b>(y, x) = cv::Vec3b(x * 20, y * 40, 7);
  }
  return image;
}

TEST(WritePngAtomically, WritesThePixelsOfImwriteAndLeavesNoTemporaryFile) {
  const std::string dir = testing::makeTestDir();
  for (const cv::Mat& image : {colourRamp(), cv::Mat(5, 3, CV_8UC1, cv::Scalar(200))}) {
    cv::imwrite(dir + "/reference.png", image);
    writePngAtomically(dir + "/view.png", image);
    const cv::Mat written = cv::imread(dir + "/view.png", cv::IMREAD_UNCHANGED);
    EXPECT_TRUE(testing::sameImage(written, image));
    EXPECT_TRUE(
        testing::sameImage(written, cv::imread(dir + "/reference.png", cv::IMREAD_UNCHANGED)));
    EXPECT_EQ(testing::namesIn(dir), (std::vector<std::string>{"reference.png", "view.png"}));
  }
}

TEST(WritePngAtomically, ReplacesAnExistingFile) {
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/view.png",
                         "old contents, much longer than the new PNG will be ...");
  writePngAtomically(dir + "/view.png", cv::Mat(2, 2, CV_8UC1, cv::Scalar(1)));
  EXPECT_TRUE(testing::sameImage(cv::imread(dir + "/view.png", cv::IMREAD_UNCHANGED),
                                 cv::Mat(2, 2, CV_8UC1, cv::Scalar(1))));
}

TEST(WritePngAtomically, FailuresNameTheFileAndLeaveNothingBehind) {
  const std::string dir = testing::makeTestDir();
  fs::create_directory(dir + "/taken.png");  // a folder where the file should go
  fs::create_symlink("/dev/null", dir + "/device.png");
  const std::string cases[] = {dir + "/missing/view.png", dir + "/taken.png", dir + "/device.png"};
  for (const std::string& path : cases) {
    try {
      writePngAtomically(path, colourRamp());
      ADD_FAILURE() << path << ": no error";
    } catch (const PlenoviewError& e) {
      EXPECT_EQ(std::string(e.what()), "cannot write the view \"" + path + "\"");
    }
  }
  EXPECT_EQ(testing::namesIn(dir), (std::vector<std::string>{"device.png", "taken.png"}));
  EXPECT_TRUE(fs::is_empty(dir + "/taken.png"));
  EXPECT_TRUE(fs::is_symlink(dir + "/device.png"));

  // An image the PNG encoder refuses.
  try {
    writePngAtomically(dir + "/empty.png", cv::Mat());
    ADD_FAILURE() << "empty image: no error";
  } catch (const PlenoviewError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot encode the view \"" + dir + "/empty.png\" as PNG");
  }
  EXPECT_EQ(testing::namesIn(dir), (std::vector<std::string>{"device.png", "taken.png"}));
}

TEST(WritePngAtomically, ReplacesASymlinkToARegularFileInsteadOfWritingThroughIt) {
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/elsewhere.png", "keep me");
  fs::create_symlink("elsewhere.png", dir + "/view.png");
  writePngAtomically(dir + "/view.png", colourRamp());
  EXPECT_FALSE(fs::is_symlink(dir + "/view.png"));
  EXPECT_EQ(testing::readFile(dir + "/elsewhere.png"), "keep me");
}

// Files handed on to leave the page cache are released while later files are
// written, by bytes (a limit of one byte releases all but the newest) or by
// count, and closed at the end: every file keeps its bytes and no descriptor
// is left open.
TEST(WritePngAtomically, FilesHandedOnForTheirPagesStayWholeAndAreClosed) {
  const std::string dir = testing::makeTestDir();
  const auto openFiles = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  const auto before = openFiles();
  struct Limits {
    size_t bytes;
    size_t files;
    long held;  // descriptors open after 6 files
  };
  for (const Limits limits : {Limits{1, 64, 1}, Limits{size_t{1} << 30, 4, 4}}) {
    {
      WrittenPages pages(limits.bytes, limits.files);
      for (int i = 0; i < 6; ++i) {
        const std::string path = dir + "/view" + std::to_string(i) + ".png";
        writeEncodedAtomically(path, encodePng(path, cv::Mat(3, 4, CV_8UC1, cv::Scalar(i))),
                               &pages);
      }
      EXPECT_EQ(openFiles(), before + limits.held);
    }
    EXPECT_EQ(openFiles(), before);
  }
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(testing::sameImage(
        cv::imread(dir + "/view" + std::to_string(i) + ".png", cv::IMREAD_UNCHANGED),
        cv::Mat(3, 4, CV_8UC1, cv::Scalar(i))));
  }
}

// A write that fails only after the file was opened (a full disk, a quota) is
// caught when the file is closed. A file-size limit of 100 bytes, with the
// signal it raises ignored, makes the write fail with EFBIG.
TEST(WritePngAtomically, AWriteThatFailsLateLeavesTheOldFile) {
  const std::string dir = testing::makeTestDir();
  testing::writeTextFile(dir + "/view.png", "old");
  cv::Mat noise(40, 40, CV_8UC1);
  cv::RNG(7).fill(noise, cv::RNG::UNIFORM, 0, 256);  // about 1.6 KB as PNG

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 100;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string error;
  try {
    writePngAtomically(dir + "/view.png", noise);
  } catch (const PlenoviewError& e) {
    error = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(error, "cannot write the view \"" + dir + "/view.png\"");
  EXPECT_EQ(testing::readFile(dir + "/view.png"), "old");
  EXPECT_EQ(testing::namesIn(dir), (std::vector<std::string>{"view.png"}));
}

TEST(TemporaryPath, IsHiddenInTheSameFolderAndRecognised) {
  const std::string temporary = temporaryPathFor("out/Result/Result_f0007_c0102.png");
  const std::string prefix = "out/Result/.Result_f0007_c0102.png.tmp-";
  ASSERT_EQ(temporary.compare(0, prefix.size(), prefix), 0) << temporary;
  // One random token per process: 12 hex digits.
  const std::string token = temporary.substr(prefix.size());
  EXPECT_EQ(token.size(), 12u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
  EXPECT_EQ(temporaryPathFor("x/a.png"), "x/.a.png.tmp-" + token);

  struct Name {
    const char* name;
    bool temporary;
  };
  const Name names[] = {
      {".Result_f0007_c0102.png.tmp-1a2b", true},
      {".a.png.tmp-9", true},
      {"Result_f0007_c0102.png", false},
      {"Result_f0007_c0102.png.tmp-1a2b", false},
      {".Result_f0007_c0102.png.tmp-", false},
      {".Result_f0007_c0102.png", false},
      {".png.tmp-1", false},
      {".Result_f0007_c0102.jpg.tmp-1", false},
  };
  for (const Name& n : names) EXPECT_EQ(isTemporaryPngName(n.name), n.temporary) << n.name;
}

}  // namespace
}  // namespace plenoview
