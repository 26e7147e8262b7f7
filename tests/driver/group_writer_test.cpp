#include "driver/group_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace plenoview {
namespace {

// Records the groups it is given (by the x of their first view) and fails
// on the group whose x is `failAt`, slowly, so that later groups queue up
// behind it.
class RecordingSink : public ViewSink {
 public:
  explicit RecordingSink(int failAt) : failAt_(failAt) {}
  void beginFrame(int) override {}
  void writeViews(const std::vector<FinishedView>& views) override {
    const int x = views.front().place.x;
    if (x == failAt_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      throw std::runtime_error("group " + std::to_string(x));
    }
    written.push_back(x);
  }
  void endFrame() override {}
  void abandonFrame() override {}
  int removeLeftovers(int, int) override { return 0; }
  std::vector<int> completeFrames(int, int) const override { return {}; }

  std::vector<int> written;

 private:
  int failAt_;
};

std::vector<FinishedView> group(int x) { return {FinishedView{cv::Point(x, 0), cv::Mat()}}; }

// Groups are written in order; a failing group's error comes out once, at
// the next write or at finish, and nothing queued or handed over after it is
// written.
TEST(GroupWriter, WritesInOrderAndStopsAtTheFirstFailure) {
  for (const int depth : {1, 2}) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    RecordingSink sink(2);
    GroupWriter writer(sink, depth);
    std::string error;
    for (int x = 0; x < 6 && error.empty(); ++x) {
      try {
        writer.write(group(x));
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
    }
    try {
      writer.finish();
    } catch (const std::runtime_error& e) {
      EXPECT_TRUE(error.empty()) << "the error came out twice";
      error = e.what();
    }
    EXPECT_EQ(error, "group 2");
    EXPECT_EQ(sink.written, (std::vector<int>{0, 1}));
    EXPECT_NO_THROW(writer.finish());
  }

  RecordingSink sink(-1);
  GroupWriter writer(sink, 2);
  for (int x = 0; x < 5; ++x) writer.write(group(x));
  writer.finish();
  EXPECT_EQ(sink.written, (std::vector<int>{0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace plenoview
