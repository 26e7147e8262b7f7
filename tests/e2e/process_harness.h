#pragma once

// The one way the end-to-end tests start programs: fork and exec, no shell
// unless asked for, every wait bounded. A child gets stdin from /dev/null and
// its own process group (a timeout ends everything it started), and dies with
// the test process.

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace plenoview::testing {

// How a child runs.
struct ProcessOptions {
  std::string workDir;  // "" runs it in the test process's working directory
  // Changes to the test process's environment: "NAME=value" sets NAME, a bare
  // "NAME" removes it.
  std::vector<std::string> environment;
  // After this the child and its process group are killed, and the result
  // says so.
  std::chrono::milliseconds timeout = std::chrono::minutes(5);
};

struct ProcessResult {
  int exitStatus = -1;  // the exit code, or 128 + the signal that ended it, as a shell says
  std::string out;      // stdout
  std::string err;      // stderr; ends in a line naming the timeout when there was one
  bool timedOut = false;
};

// Runs argv[0] (a path, or a name looked up in PATH) to its end.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Runs `command` with /bin/sh -c, for the few tests that need a shell's lists
// and pipes.
ProcessResult runShell(const std::string& command, const ProcessOptions& options = {});

// Quotes `text` for the shell.
std::string shellQuote(const std::string& text);

// Removes DISPLAY and WAYLAND_DISPLAY: the binary runs as on a machine
// without a display.
extern const std::vector<std::string> kNoDisplay;

// The plenoview binary under test followed by `args`.
std::vector<std::string> plenoviewCommand(const std::vector<std::string>& args);

// plenoview with `args` in `workDir`, without a display unless `environment`
// sets one.
ProcessResult runPlenoview(const std::vector<std::string>& args, const std::string& workDir,
                           const std::vector<std::string>& environment = {});

// plenoview-synth with `args` in `workDir`.
ProcessResult runSynth(const std::vector<std::string>& args, const std::string& workDir);

// Polls `done` every 5 ms until it holds (true) or `timeout` has passed
// (false).
bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done);

// A child that runs while the test goes on: stdout and stderr go to files
// that the test can read at any time. Killed and reaped, if still running,
// when it goes out of scope.
class BackgroundProcess {
 public:
  BackgroundProcess() = default;
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  ~BackgroundProcess() { stop(); }

  // `keepFd` stays open in the child (a pipe it reports through); stdin is
  // /dev/null, and options.timeout does not apply.

  void start(const std::vector<std::string>& argv, const ProcessOptions& options,
             const std::string& outPath, const std::string& errPath, int keepFd = -1);

  // True once the child has ended; exitStatus() then holds its status.
  bool finished();
  bool waitForExit(std::chrono::milliseconds timeout);
  int exitStatus() const { return exitStatus_; }

  void signal(int number);
  // SIGKILL to its process group, then reaped; returns exitStatus().
  int stop();

  std::string out() const;
  std::string err() const;

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  std::string outPath_;
  std::string errPath_;
};

// plenoview with `args` started in the background in `workDir`, without a
// display; stdout and stderr go to workDir/.out and workDir/.err.
void startPlenoview(BackgroundProcess& process, const std::string& workDir,
                    const std::vector<std::string>& args);

// A private X server (Xvfb) for the window tests, on a display number it
// picks itself, so that test processes running side by side never collide.
class PrivateXServer {
 public:
  // Starts the server and waits until it accepts clients. On failure
  // display() is empty and problem() says why.
  PrivateXServer();
  ~PrivateXServer();

  const std::string& display() const { return display_; }
  const std::string& problem() const { return problem_; }

 private:
  BackgroundProcess server_;
  std::string display_;
  std::string problem_;
};

}  // namespace plenoview::testing
