#include "io/view_files.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

TEST(ViewFileName, FrameFieldAndViewFieldsWidenForLargeNumbers) {
  EXPECT_EQ(viewFileName(7, 0, 0), "Result_f0007_c0000.png");
  EXPECT_EQ(viewFileName(7, 1, 2), "Result_f0007_c0102.png");
  EXPECT_EQ(viewFileName(12345, 0, 0), "Result_f12345_c0000.png");
  EXPECT_EQ(viewFileName(0, 100, 3), "Result_f0000_c10003.png");
  EXPECT_EQ(viewFileName(-1, 2, 1), "Result_c0201.png");
}

TEST(RemoveLeftoverTemporaries, RemovesOnlyTemporariesOfFramesInTheRange) {
  const std::string dir = testing::makeTestDir();
  const std::vector<std::string> removed = {".Result_f0005_c0000.png.tmp-ab12",
                                            ".Result_f0006_c0101.png.tmp-77"};
  const std::vector<std::string> kept = {
      ".Result_f0004_c0000.png.tmp-ab12",  // before the range
      ".Result_f0007_c0000.png.tmp-ab12",  // at its end: another run's frame
      ".Result_f12345_c0000.png.tmp-1",    // far past it
      "Result_f0005_c0000.png",            // a finished view
      ".Result_fxx_c0000.png.tmp-1",       // not a frame number
      ".Result_f0005_c0000.png.tmp-",      // not our form
      ".keep",
  };
  for (const auto& name : removed) testing::writeTextFile(dir + "/" + name, "x");
  for (const auto& name : kept) testing::writeTextFile(dir + "/" + name, "x");

  EXPECT_EQ(removeLeftoverTemporaries(dir, 5, 7), 2);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir)) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_EQ(removeLeftoverTemporaries(dir + "/nowhere", 0, 10), 0);
}

}  // namespace
}  // namespace plenoview
