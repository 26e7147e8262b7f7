#pragma once

#include <ostream>
#include <string>

namespace plenoview {

// "frame 12 of 300, 1.53 s/frame, 0:07:20 left": `done` frames of `total`
// finished at a mean of `secondsPerFrame`, the rest expected to take as long
// each. No newline.
std::string formatProgress(int done, int total, double secondsPerFrame);

// How far a long run has got, on one line of a terminal: rewritten in place
// after every frame and cleared when the run ends, so that it leaves nothing
// behind in the terminal, and nothing at all in a pipe or a log file (it is
// only shown when stderr is a terminal). stdout is not touched; when stdout
// goes to the same terminal, the line starts after the room its frame
// counter ("frameCnt:0012", ended by a carriage return) takes, so that both
// stay readable.
class ProgressLine {
 public:
  // Writes to `out` when `shown`; `afterCounter` leaves the counter's room.
  ProgressLine(std::ostream& out, bool shown, bool afterCounter, int total);
  // On stderr, when stderr is a terminal; after the counter when stdout is one too.
  explicit ProgressLine(int total);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // One more frame finished; `frameSeconds` is the time of all finished
  // frames together.
  void frameDone(double frameSeconds);

  // Takes the line away (also done at the end), for example before another
  // line goes to stderr.
  void clear();

 private:
  std::string start() const;

  std::ostream& out_;
  bool shown_;
  bool afterCounter_;
  int total_;
  int done_ = 0;
  bool onScreen_ = false;
};

}  // namespace plenoview
