// The frame loop with fakes around it: the order in which the sink sees a
// frame's groups and the frame behind's completion, and which error, counts
// and console lines a failure leaves. Windows are off, so no key is read.
#include "driver/frame_loop.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"
#include "windows/display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace plenoview {
namespace {

// Frame k is a 1 x 1 image holding k.
class FakeFrames : public FrameSource {
 public:
  cv::Mat read(int index) override { return cv::Mat(1, 1, CV_32SC1, cv::Scalar(index)); }
};

// Logs its calls as they come, from the loop's thread and the writer's:
// "b1" beginFrame(1), "w1.0" group 0 of frame 1 written, "x1.1" group 1
// failed (the group named by `failing`), "e" endFrame, "a" abandonFrame.
class LoggingSink : public ViewSink {
 public:
  explicit LoggingSink(std::string failing) : failing_(std::move(failing)) {}
  void beginFrame(int k) override { note("b" + std::to_string(k)); }
  void writeViews(const std::vector<FinishedView>& views) override {
    const FinishedView& view = views.at(0);
    const std::string group =
        std::to_string(view.view.at<int>(0)) + "." + std::to_string(view.place.x);
    note((group == failing_ ? "x" : "w") + group);
    if (group == failing_) throw PlenoviewError("cannot write " + group);
  }
  void endFrame() override { note("e"); }
  void abandonFrame() override { note("a"); }
  int removeLeftovers(int, int) override { return 0; }
  std::vector<int> completeFrames(int, int) const override { return {}; }

  void note(const std::string& event) {
    const std::lock_guard<std::mutex> lock(mutex_);
    log += (log.empty() ? "" : " ") + event;
  }
  std::string log;

 private:
  const std::string failing_;
  std::mutex mutex_;
};

// What frames `frames` ("02": 0 and 2) put on stdout: each its counter,
// then the line its fake rendering prints.
std::string printed(const std::string& frames) {
  std::string text;
  for (const char k : frames) {
    text += std::string("frameCnt:000") + k + "\rwindow " + k + "\n";
  }
  return text;
}

TEST(FrameLoop, CompletesTheFrameBehindFirstAndEndsOnTheFirstError) {
  struct Case {
    const char* name;
    int end;
    int complete;           // found complete by --resume
    int failRender;         // frame whose rendering throws before its first group
    const char* failWrite;  // group whose writing fails
    const char* log;        // the sink's calls, and "r k" for a replay of frame k
    const char* out;        // frames whose lines reach stdout
    const char* error;
    const char* counts;  // done, skipped, failed
  };
  const Case cases[] = {
      {"in order", 3, -1, -1, "", "b0 w0.0 w0.1 e b1 w1.0 w1.1 e b2 w2.0 w2.1 e", "012", "",
       "3 0 0"},
      {"resume skips 1, replays it before 2", 4, 1, -1, "",
       "b0 w0.0 w0.1 e r1 b2 w2.0 w2.1 e b3 w3.0 w3.1 e", "023", "", "3 1 0"},
      // Frame 1 is complete before frame 2 is abandoned (never begun).
      {"rendering fails", 4, -1, 2, "", "b0 w0.0 w0.1 e b1 w1.0 w1.1 e a", "012", "cannot render 2",
       "2 0 1"},
      // Frame 1's last group fails while frame 2 is under way: frame 2's
      // lines go, and frame 1 is the only one failed, whatever frame 2 did.
      {"frame behind fails", 4, -1, -1, "1.1", "b0 w0.0 w0.1 e b1 w1.0 x1.1 a", "01",
       "cannot write 1.1", "1 0 1"},
      {"both fail", 4, -1, 2, "1.1", "b0 w0.0 w0.1 e b1 w1.0 x1.1 a", "01", "cannot write 1.1",
       "1 0 1"},
  };
  setWindowsEnabled(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFrames frames;
    LoggingSink sink(c.failWrite);
    FrameConsole console;
    FrameRendering rendering;
    // Two groups a frame, one view each, at (0, 0) and (1, 0).
    rendering.render = [&](cv::Mat frame, const PatchSizes*, const ViewGroupSink& finished) {
      // Time for the next frame, read ahead meanwhile, to arrive: then the
      // frame behind is still pending while the next one renders (the
      // outputs are the same when it is completed earlier).
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const int k = frame.at<int>(0);
      console.line("window " + std::to_string(k));
      if (k == c.failRender) throw PlenoviewError("cannot render " + std::to_string(k));
      for (int x = 0; x < 2; ++x) finished({FinishedView{cv::Point(x, 0), frame}});
    };
    rendering.warmUp = [&](const cv::Mat& frame) {
      sink.note("r" + std::to_string(frame.at<int>(0)));
    };
    rendering.inspect = [] {};
    FrameRange range;
    range.end = c.end;
    if (c.complete >= 0) range.complete = {c.complete};
    RunSummary summary;
    ::testing::internal::CaptureStdout();
    const std::string error = testing::refusal([&] {
      FrameLoop(frames, sink, range, console, summary, rendering, FrameLoopSettings{2, true, {}})
          .run();
    });
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), printed(c.out));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(sink.log, c.log);
    EXPECT_EQ(std::to_string(summary.done) + " " + std::to_string(summary.skipped) + " " +
                  std::to_string(summary.failed),
              c.counts);
  }
}

}  // namespace
}  // namespace plenoview
