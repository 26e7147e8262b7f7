#include "renderer/parallel_work.h"

#include "renderer/multi_view_renderer.h"

#include <opencv2/core/utility.hpp>

#include <exception>
#include <string>
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

void forEachInOrder(int count, const std::function<void(int)>& body) {
  if (count <= 0) return;
  std::vector<std::string> messages(count);
  std::vector<std::exception_ptr> errors(count);
  parallelForEach(count, [&](int i) {
    RoiMessageCapture capture(messages[i]);
    try {
      body(i);
    } catch (...) {
      errors[i] = std::current_exception();
    }
  });
  // What ran before a failing item is still reported, as it would have been.
  for (int i = 0; i < count; ++i) {
    writeRoiMessages(messages[i]);
    if (errors[i]) std::rethrow_exception(errors[i]);
  }
}

}  // namespace plenoview
