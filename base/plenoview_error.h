#pragma once

#include <stdexcept>
#include <string>

namespace plenoview {

// Exit statuses of the plenoview executable. A run stopped by a signal ends
// with 128 + the signal instead: 130 for Ctrl-C (SIGINT), 143 for SIGTERM
// (InterruptedError, base/interrupt.h).
enum ExitStatus {
  kExitSuccess = 0,  // every requested frame was processed (or 'q' ended the run)
  kExitFailure = 1,  // a file, frame, calibration value or output could not be used
  kExitUsage = 2,    // the command line itself is wrong
};

// The one error type for bad input. It is thrown where the cause is known, with
// a message in the user's terms that names the file, key or value at fault, and
// caught once by the driver, which prints "plenoview: <message>" on stderr.
class PlenoviewError : public std::runtime_error {
 public:
  explicit PlenoviewError(const std::string& message, int exitStatus = kExitFailure)
      : std::runtime_error(message), exitStatus(exitStatus) {}

  int exitStatus;
};

// A command-line error: reported together with the usage, exit status 2.
class UsageError : public PlenoviewError {
 public:
  explicit UsageError(const std::string& message) : PlenoviewError(message, kExitUsage) {}
};

}  // namespace plenoview
