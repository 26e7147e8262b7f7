#include "base/interrupt.h"

#include <csignal>
#include <string>

namespace plenoview {

namespace {

volatile std::sig_atomic_t gSignal = 0;

extern "C" void recordSignal(int signal) {
  gSignal = signal;
  // The next signal of this kind takes the default action: a user who presses
  // Ctrl-C twice does not want to wait for the frame to finish.
  std::signal(signal, SIG_DFL);
}

std::string signalName(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(signal);
}

}  // namespace

InterruptHandlers::InterruptHandlers() {
  gSignal = 0;
  previousInt_ = std::signal(SIGINT, recordSignal);
  previousTerm_ = std::signal(SIGTERM, recordSignal);
  // A signal ignored by whoever started us (a background job of a script,
  // nohup) stays ignored.
  if (previousInt_ == SIG_IGN) std::signal(SIGINT, SIG_IGN);
  if (previousTerm_ == SIG_IGN) std::signal(SIGTERM, SIG_IGN);
}

InterruptHandlers::~InterruptHandlers() {
  if (previousInt_ != SIG_ERR) std::signal(SIGINT, previousInt_);
  if (previousTerm_ != SIG_ERR) std::signal(SIGTERM, previousTerm_);
}

int interruptSignal() { return gSignal; }

void requestInterrupt(int signal) { gSignal = signal; }

InterruptedError::InterruptedError(int signal, int frameIndex)
    : PlenoviewError("interrupted by " + signalName(signal) + " at frame " +
                         std::to_string(frameIndex) + "; rerun with --resume to finish",
                     128 + signal) {}

void stopIfInterrupted(int frameIndex) {
  const int signal = interruptSignal();
  if (signal != 0) throw InterruptedError(signal, frameIndex);
}

}  // namespace plenoview
