#include "driver/group_writer.h"

#include <utility>

namespace plenoview {

GroupWriter::GroupWriter(ViewSink& sink, int depth)
    : sink_(sink), depth_(depth), thread_([this] { work(); }) {}

GroupWriter::~GroupWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void GroupWriter::write(const std::vector<FinishedView>& group) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return error_ || inHand() < depth_; });
  throwError();
  queue_.push_back(group);
  changed_.notify_all();
}

void GroupWriter::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return inHand() == 0; });
  throwError();
}

void GroupWriter::settle() {
  try {
    finish();
  } catch (...) {
  }
}

void GroupWriter::throwError() {
  if (!error_) return;
  std::exception_ptr error = error_;
  error_ = nullptr;
  std::rethrow_exception(error);
}

void GroupWriter::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    std::vector<FinishedView> group = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    std::exception_ptr error;
    try {
      sink_.writeViews(group);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    if (error) {
      error_ = error;
      queue_.clear();
    }
    changed_.notify_all();
  }
}

}  // namespace plenoview
