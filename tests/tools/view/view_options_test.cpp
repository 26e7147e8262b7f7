// The viewer's command line and its choice of frames, in-process.

#include "tools/view/view_options.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace plenoview::view {
namespace {

ViewOptions parse(std::vector<const char*> args) {
  args.insert(args.begin(), "plenoview-view");
  return parseViewOptions(static_cast<int>(args.size()), args.data());
}

TEST(ViewOptions, ReadsEveryOptionBeforeOrAfterThePositionals) {
  const ViewOptions o = parse({"--frames=2..9", "run", "--every", "3", "--jpeg", "80", "out",
                               "--patch-sizes", "ps", "--max-mb=5"});
  EXPECT_EQ(o.result, "run");
  EXPECT_EQ(o.out, "out");
  EXPECT_TRUE(o.frameRange);
  EXPECT_EQ(o.firstFrame, 2);
  EXPECT_EQ(o.lastFrame, 9);
  EXPECT_EQ(o.every, 3);
  EXPECT_EQ(o.jpegQuality, 80);
  EXPECT_EQ(o.patchSizes, "ps");
  EXPECT_EQ(o.maxMegabytes, 5);
}

TEST(ViewOptions, RefusesAWrongCommandLineAsAUsageError) {
  const std::vector<std::vector<const char*>> wrong = {
      {"run"},
      {"run", "out", "more"},
      {"run", "out", "--frames", "3"},
      {"run", "out", "--frames", "5..4"},
      {"run", "out", "--frames", "-1..4"},
      {"run", "out", "--frames", "a..4"},
      {"run", "out", "--every", "0"},
      {"run", "out", "--jpeg", "0"},
      {"run", "out", "--jpeg", "101"},
      {"run", "out", "--max-mb", "0"},
      {"run", "out", "--patch-sizes="},
      {"run", "out", "--every"},
      {"run", "out", "--zoom", "2"},
  };
  for (const auto& args : wrong) {
    std::string line;
    for (const char* arg : args) line += std::string(arg) + " ";
    EXPECT_THROW(parse(args), UsageError) << line;
  }
}

TEST(ViewOptions, ChoosesTheFramesInRangeEveryKthAndAtMostThirtyByDefault) {
  std::vector<int> hundred(100);
  std::iota(hundred.begin(), hundred.end(), 0);
  std::vector<int> thirtyOne(hundred.begin(), hundred.begin() + 31);
  const auto choose = [](const std::vector<int>& held, std::vector<const char*> args) {
    args.insert(args.begin(), {"run", "out"});
    return chooseFrames(held, parse(args));
  };
  // 30 frames: all; 31: every 2nd (ceil(31 / 30) = 2), 16 of them; 100: every
  // 4th (ceil(100 / 30)), 25 of them.
  EXPECT_EQ(choose(std::vector<int>(hundred.begin(), hundred.begin() + 30), {}).size(), 30u);
  const std::vector<int> odd = choose(thirtyOne, {});
  EXPECT_EQ(odd.size(), 16u);
  EXPECT_EQ(odd.back(), 30);
  const std::vector<int> long100 = choose(hundred, {});
  EXPECT_EQ(long100.size(), 25u);
  EXPECT_EQ(long100[1], 4);
  EXPECT_EQ(long100.back(), 96);
  // A range and a step; a range's ends need not be held; steps count held
  // frames, not indices.
  EXPECT_EQ(choose(hundred, {"--frames", "10..20", "--every", "5"}),
            (std::vector<int>{10, 15, 20}));
  EXPECT_EQ(choose({3, 5, 8, 13, 21}, {"--frames", "4..100", "--every", "2"}),
            (std::vector<int>{5, 13}));
  EXPECT_EQ(choose(hundred, {"--every", "1"}).size(), 100u);
  EXPECT_EQ(testing::refusal([&] {
              choose({0, 1, 2}, {"--frames", "4..5"});
            }),
            "no frame of the folder lies in --frames 4..5 (it holds frames 0 .. 2)");
}

}  // namespace
}  // namespace plenoview::view
