// The options for measurements: --all-scale-levels (every scale level built
// whole, the reference way) and --threads N. That neither changes a byte of the
// output is tested on the binary, in tests/e2e.

#include "base/plenoview_error.h"
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plenoview {
namespace {

CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "plenoview");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(MeasurementOptions, AreParsedAnywhereAndCheckedOnce) {
  const CommandLine plain = parse({"c.xml", "f.png", "1", "3"});
  EXPECT_FALSE(plain.allScaleLevels);
  EXPECT_EQ(plain.threads, 0);
  const CommandLine line =
      parse({"--threads", "2", "c.xml", "f.png", "1", "3", "--all-scale-levels"});
  EXPECT_TRUE(line.allScaleLevels);
  EXPECT_EQ(line.threads, 2);
  EXPECT_EQ(line.viewNum, 3);

  const struct {
    std::vector<const char*> args;
    const char* mustSay;
  } bad[] = {
      {{"c.xml", "f.png", "1", "3", "--threads"}, "--threads needs a number"},
      {{"--threads", "0", "c.xml", "f.png", "1", "3"}, "--threads must be at least 1"},
      {{"--threads", "two", "c.xml", "f.png", "1", "3"}, "--threads must be a whole decimal"},
  };
  for (const auto& b : bad) {
    try {
      parse(b.args);
      ADD_FAILURE() << b.mustSay << ": accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(b.mustSay), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace plenoview
