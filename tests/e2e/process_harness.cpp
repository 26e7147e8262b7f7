#include "tests/e2e/process_harness.h"

#include "tests/test_support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace plenoview::testing {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Status as a shell reports it.
int shellStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The child's environment: the test process's, changed by `changes`.
std::vector<std::string> childEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& entry) {
                                   return entry.compare(0, name.size() + 1, name + "=") == 0;
                                 }),
                  entries.end());
    if (change.find('=') != std::string::npos) entries.push_back(change);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Forks a child that runs argv with stdin, stdout and stderr on the given
// descriptors. Everything it needs is made before the fork; after it the
// child only calls what is safe there.
pid_t spawn(const std::vector<std::string>& argv, const ProcessOptions& options, int in, int out,
            int err, int keepFd) {
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = childEnvironment(options.environment);
  const std::vector<char*> argp = pointers(args);
  const std::vector<char*> envp = pointers(environment);
  const std::string workDir = options.workDir;
  const std::string failure = "process harness: cannot run " + argv[0] + "\n";

  const pid_t pid = fork();
  if (pid != 0) {
    // Also here, so that the group exists before the parent may signal it.
    if (pid > 0) setpgid(pid, pid);
    return pid;
  }
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // A test process started in the background of a shell ignores SIGINT, and
  // exec keeps what is ignored: the signal tests need the defaults.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
  if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
  // Nothing else of the test process leaks in (another child's files, the
  // pipe the X server reports through).
  if (keepFd > 2) {
    close_range(3, keepFd - 1, 0);
    close_range(keepFd + 1, ~0u, 0);
  } else {
    close_range(3, ~0u, 0);
  }
  execvpe(argp[0], argp.data(), envp.data());
  if (write(2, failure.data(), failure.size()) < 0) _exit(127);
  _exit(127);
}

std::vector<std::string> command(const char* binary, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {binary};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

ProcessOptions withoutDisplay(const std::string& workDir,
                              const std::vector<std::string>& environment = {}) {
  ProcessOptions options{workDir, kNoDisplay};
  options.environment.insert(options.environment.end(), environment.begin(), environment.end());
  return options;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  // stdout and stderr go to files of their own, read once the child has
  // ended: a daemon it started may hold them open for good.
  char folder[] = "/tmp/plenoview-process-XXXXXX";
  ProcessResult result;
  if (mkdtemp(folder) == nullptr) {
    result.err = "process harness: cannot create a folder: " + std::string(std::strerror(errno));
    return result;
  }
  BackgroundProcess child;
  child.start(argv, options, std::string(folder) + "/out", std::string(folder) + "/err");
  result.timedOut = !child.waitForExit(options.timeout);
  result.exitStatus = result.timedOut ? child.stop() : child.exitStatus();
  result.out = child.out();
  result.err = child.err();
  fs::remove_all(folder);
  if (result.timedOut) {
    result.err += "\nprocess harness: " + argv[0] + " killed after " +
                  std::to_string(options.timeout.count()) + " ms\n";
  }
  return result;
}

ProcessResult runShell(const std::string& command, const ProcessOptions& options) {
  return runProcess({"/bin/sh", "-c", command}, options);
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY"};

std::vector<std::string> plenoviewCommand(const std::vector<std::string>& args) {
  return command(PLENOVIEW_BINARY, args);
}

ProcessResult runPlenoview(const std::vector<std::string>& args, const std::string& workDir,
                           const std::vector<std::string>& environment) {
  return runProcess(plenoviewCommand(args), withoutDisplay(workDir, environment));
}

void startPlenoview(BackgroundProcess& process, const std::string& workDir,
                    const std::vector<std::string>& args) {
  process.start(plenoviewCommand(args), withoutDisplay(workDir), workDir + "/.out",
                workDir + "/.err");
}

ProcessResult runSynth(const std::vector<std::string>& args, const std::string& workDir) {
  return runProcess(command(PLENOVIEW_SYNTH_BINARY, args), {workDir, {}});
}

bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  const auto end = Clock::now() + timeout;
  while (true) {
    if (done()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void BackgroundProcess::start(const std::vector<std::string>& argv, const ProcessOptions& options,
                              const std::string& outPath, const std::string& errPath, int keepFd) {
  stop();
  outPath_ = outPath;
  errPath_ = errPath;
  exitStatus_ = -1;
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in >= 0 && out >= 0 && err >= 0) pid_ = spawn(argv, options, in, out, err, keepFd);
  if (pid_ < 0) writeTextFile(errPath, "process harness: cannot start " + argv[0] + "\n");
  for (int fd : {in, out, err}) {
    if (fd >= 0) close(fd);
  }
}

bool BackgroundProcess::finished() {
  if (pid_ <= 0) return true;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
  exitStatus_ = shellStatus(status);
  pid_ = -1;
  return true;
}

bool BackgroundProcess::waitForExit(std::chrono::milliseconds timeout) {
  return waitUntil(timeout, [this] { return finished(); });
}

void BackgroundProcess::signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

int BackgroundProcess::stop() {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    exitStatus_ = shellStatus(status);
    pid_ = -1;
  }
  return exitStatus_;
}

std::string BackgroundProcess::out() const { return readFile(outPath_); }
std::string BackgroundProcess::err() const { return readFile(errPath_); }

// -displayfd: the server writes the number it took to the pipe once it
// listens. -noreset: by default the server resets when its last client
// leaves, and a client that connects during the reset is refused.
PrivateXServer::PrivateXServer() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    problem_ = "cannot create a pipe";
    return;
  }
  // The server must inherit the write end: the one descriptor kept open.
  fcntl(fds[1], F_SETFD, 0);
  const std::string log =
      (fs::temp_directory_path() / ("plenoview_xvfb_" + std::to_string(getpid()) + ".log"))
          .string();
  ProcessOptions options;
  options.workDir = "/";
  server_.start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp", "-noreset"},
                options, "/dev/null", log, fds[1]);
  close(fds[1]);
  std::string number;
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < end && number.find('\n') == std::string::npos) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      char buffer[16];
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;  // the server ended before it was ready
      number.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    problem_ = "Xvfb did not start within 10 s (is package xvfb installed?): " + readFile(log);
    server_.stop();
    return;
  }
  const std::string display = ":" + number.substr(0, number.find('\n'));
  // Clients must be able to connect before the tests start.
  ProcessOptions probe;
  probe.workDir = "/";
  probe.environment = {"DISPLAY=" + display};
  probe.timeout = std::chrono::seconds(5);
  if (!waitUntil(std::chrono::seconds(10),
                 [&] { return runProcess({"xdpyinfo"}, probe).exitStatus == 0; })) {
    problem_ = "Xvfb on " + display + " accepts no clients: " + readFile(log);
    return;  // the destructor ends the server
  }
  fs::remove(log);
  display_ = display;
}

// SIGTERM first, with time to remove its lock and socket before SIGKILL.
PrivateXServer::~PrivateXServer() {
  server_.signal(SIGTERM);
  if (!server_.waitForExit(std::chrono::seconds(3))) server_.stop();
}

}  // namespace plenoview::testing
