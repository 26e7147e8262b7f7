#pragma once

#include "io/view_sink.h"
#include "renderer/view_grid.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace plenoview {

// Encodes and writes groups of views on a thread of its own while the
// renderer makes the next ones: the two share the cores, so neither the
// encoding's last view nor the rendering's serial parts leave a core idle.
// At most `depth` groups are queued or being written (the renderer keeps a
// group's images until kGroupSets - 1 groups after it are handed over), and
// the sink sees its calls one after another, in order. After a group fails,
// the groups queued behind it are dropped unwritten; so are those still
// queued when the writer is destroyed.
class GroupWriter {
 public:
  GroupWriter(ViewSink& sink, int depth);
  ~GroupWriter();
  GroupWriter(const GroupWriter&) = delete;
  GroupWriter& operator=(const GroupWriter&) = delete;

  // Queues `group` once fewer than `depth` groups are in hand; throws the
  // error of a group before it instead, if any.
  void write(const std::vector<FinishedView>& group);

  // Waits until every group is written or dropped and throws the error of the
  // first that failed, if any.
  void finish();

  // The same, dropping the error: the frame failed already.
  void settle();

 private:
  int inHand() const { return static_cast<int>(queue_.size()) + (busy_ ? 1 : 0); }
  void throwError();
  void work();

  ViewSink& sink_;
  const int depth_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<FinishedView>> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once the members above are made
};

}  // namespace plenoview
