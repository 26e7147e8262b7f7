#include "renderer/parallel_work.h"

#include <opencv2/core/utility.hpp>

#include <exception>
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

}  // namespace plenoview
