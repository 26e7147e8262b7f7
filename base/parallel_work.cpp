#include "base/parallel_work.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace plenoview {

void parallelForEach(int count, const std::function<void(int)>& body) {
  if (count <= 0) return;
  std::vector<std::exception_ptr> errors(count);
  cv::parallel_for_(
      cv::Range(0, count),
      [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
          try {
            body(i);
          } catch (...) {
            errors[i] = std::current_exception();
          }
        }
      },
      count);
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

void parallelForEachOnOwnThreads(int count, int threads, const std::function<void(int)>& body) {
  if (count <= 0) return;
  std::vector<std::exception_ptr> errors(count);
  std::atomic<int> next{0};
  auto work = [&] {
    for (int i = next++; i < count; i = next++) {
      try {
        body(i);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < std::min(threads, count); ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

int encodingThreads(int count) { return cv::getNumThreads() > 1 ? count : 1; }

}  // namespace plenoview
