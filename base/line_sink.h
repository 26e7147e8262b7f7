#pragma once

#include <functional>
#include <string>
#include <vector>

namespace plenoview {

// Where the renderer's console lines go: one call per line, without its
// newline. The renderer never writes to the console itself; whoever runs it
// decides what a line becomes. An empty sink drops the lines.
using LineSink = std::function<void(const std::string& line)>;

// The lines of one work item of a parallel loop, held until the loop is over,
// so that they can be passed on in the items' sequential order: the console
// then reads exactly as if the items had run one after another.
class HeldLines {
 public:
  // A sink that appends to these lines. It refers to this object, which must
  // outlive it.
  LineSink sink() {
    return [this](const std::string& line) { lines_.push_back(line); };
  }

  // Passes the held lines to `to` in the order they came, and forgets them.
  void passTo(const LineSink& to) {
    if (to) {
      for (const std::string& line : lines_) to(line);
    }
    lines_.clear();
  }

 private:
  std::vector<std::string> lines_;
};

}  // namespace plenoview
