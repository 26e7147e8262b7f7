// Replays every stored fuzz input, the seeds and each input that once found a
// fault, through the same entry points the fuzz targets use.
#include "tests/fuzz/fuzz_entries.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;

struct Target {
  const char* name;  // and the folder of its inputs
  void (*entry)(const std::uint8_t*, std::size_t);
};

void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

class FuzzCorpus : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzCorpus, EveryStoredInputRunsCleanly) {
  const fs::path folder = fs::path(PLENOVIEW_SOURCE_DIR) / "tests" / "fuzz" / GetParam().name;
  std::vector<fs::path> inputs;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  ASSERT_GE(inputs.size(), 3u) << "no seed corpus in " << folder;
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    SCOPED_TRACE(input.filename().string());
    EXPECT_NO_THROW(GetParam().entry(bytes.data(), bytes.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus,
                         ::testing::Values(Target{"calibration_reader", fuzz::calibrationReader},
                                           Target{"frame_pattern", fuzz::framePattern},
                                           Target{"frame_file", fuzz::frameFile},
                                           Target{"y4m_header", fuzz::y4mHeader}),
                         testing::CaseName());

}  // namespace
}  // namespace plenoview
