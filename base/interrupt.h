#pragma once

#include "base/plenoview_error.h"

#include <string>

namespace plenoview {

// Ctrl-C (SIGINT) and SIGTERM end a run between two files instead of in the
// middle of one. The handlers only record the signal; the frame loop and
// the view sinks look at it at points where stopping leaves every file whole.
// A second signal of the same kind ends the process at once (the default
// action), which still leaves no partial file under a final name because
// views are written under a temporary name first.

// Installs the handlers for SIGINT and SIGTERM while it lives and restores the
// previous ones afterwards. A signal that was ignored when the process started
// stays ignored. Clears any signal recorded before.
class InterruptHandlers {
 public:
  InterruptHandlers();
  ~InterruptHandlers();
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;

 private:
  void (*previousInt_)(int);
  void (*previousTerm_)(int);
};

// The signal that asked the run to stop (SIGINT or SIGTERM), or 0.
int interruptSignal();

// Records `signal` as if it had arrived (what the handler does; tests use it).
// 0 clears the record.
void requestInterrupt(int signal);

// The error that ends an interrupted run: "interrupted by SIGINT at frame 7;
// rerun with --resume to finish", exit status 128 + signal (130 for SIGINT,
// 143 for SIGTERM).
class InterruptedError : public PlenoviewError {
 public:
  InterruptedError(int signal, int frameIndex);
};

// Throws InterruptedError when a signal has been recorded.
void stopIfInterrupted(int frameIndex);

}  // namespace plenoview
