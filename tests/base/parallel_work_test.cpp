#include "base/parallel_work.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace plenoview {
namespace {

// Every item runs once, on as many threads as asked for (never more than
// items), and the error of the lowest failing item comes out once all items
// have ended.
TEST(ParallelForEachOnOwnThreads, RunsEveryItemOnceAndRethrowsTheLowestError) {
  struct Case {
    int count;
    int threads;
  };
  for (const Case c : {Case{0, 2}, Case{1, 4}, Case{5, 1}, Case{5, 2}, Case{5, 5}, Case{3, 8}}) {
    SCOPED_TRACE(std::to_string(c.count) + " items on " + std::to_string(c.threads));
    std::vector<std::atomic<int>> runs(c.count);
    std::set<std::thread::id> ids;
    std::mutex idsMutex;
    parallelForEachOnOwnThreads(c.count, c.threads, [&](int i) {
      ++runs[i];
      std::lock_guard<std::mutex> lock(idsMutex);
      ids.insert(std::this_thread::get_id());
    });
    for (int i = 0; i < c.count; ++i) EXPECT_EQ(runs[i], 1) << "item " << i;
    EXPECT_LE(static_cast<int>(ids.size()), std::min(c.count, c.threads));
  }

  std::atomic<int> ended{0};
  try {
    parallelForEachOnOwnThreads(6, 3, [&](int i) {
      ++ended;
      if (i == 4 || i == 2) throw std::runtime_error("item " + std::to_string(i));
    });
    ADD_FAILURE() << "no error came out";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "item 2");
  }
  EXPECT_EQ(ended, 6);
}

}  // namespace
}  // namespace plenoview
