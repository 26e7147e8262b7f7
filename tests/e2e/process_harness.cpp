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
  // Nothing else of the test process leaks in: an inherited pipe end would
  // keep another child's output from ever ending.
  if (keepFd > 2) {
    close_range(3, keepFd - 1, 0);
    close_range(keepFd + 1, ~0u, 0);
  } else {
    close_range(3, ~0u, 0);
  }
  execvpe(argp[0], argp.data(), envp.data());
  _exit(127);
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Appends what `fd` holds now to `text`; false once the writer has closed it.
bool drain(int fd, std::string& text) {
  char buffer[65536];
  while (true) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return false;
    } else {
      return errno == EAGAIN || errno == EINTR;
    }
  }
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 ||
      (!options.input.empty() && pipe2(inPipe, O_CLOEXEC) != 0)) {
    result.err = "process harness: cannot create a pipe: " + std::string(std::strerror(errno));
    return result;
  }
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int in = options.input.empty() ? devNull : inPipe[0];
  const pid_t pid = spawn(argv, options, in, outPipe[1], errPipe[1], -1);
  close(devNull);
  close(outPipe[1]);
  close(errPipe[1]);
  if (inPipe[0] >= 0) close(inPipe[0]);
  setNonBlocking(outPipe[0]);
  setNonBlocking(errPipe[0]);
  if (inPipe[1] >= 0) setNonBlocking(inPipe[1]);

  // Output is read while the child runs (a full pipe would stop it) and what
  // is left once it has ended. A daemon it started may hold the pipes open
  // for good, so the child's end, not the pipes' end, ends the wait.
  size_t written = 0;
  bool outOpen = true, errOpen = true;
  int status = 0;
  const auto deadline = Clock::now() + options.timeout;
  while (true) {
    std::vector<pollfd> fds;
    if (outOpen) fds.push_back({outPipe[0], POLLIN, 0});
    if (errOpen) fds.push_back({errPipe[0], POLLIN, 0});
    if (inPipe[1] >= 0) fds.push_back({inPipe[1], POLLOUT, 0});
    poll(fds.data(), fds.size(), 20);
    if (outOpen) outOpen = drain(outPipe[0], result.out);
    if (errOpen) errOpen = drain(errPipe[0], result.err);
    if (inPipe[1] >= 0) {
      const ssize_t n =
          write(inPipe[1], options.input.data() + written, options.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN) || written == options.input.size()) {
        close(inPipe[1]);
        inPipe[1] = -1;
      }
    }
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (Clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
  }
  if (outOpen) drain(outPipe[0], result.out);
  if (errOpen) drain(errPipe[0], result.err);
  close(outPipe[0]);
  close(errPipe[0]);
  if (inPipe[1] >= 0) close(inPipe[1]);
  result.exitStatus = shellStatus(status);
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
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY"};

std::vector<std::string> plenoviewCommand(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {PLENOVIEW_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

ProcessResult runPlenoview(const std::vector<std::string>& args, const std::string& workDir,
                           const std::vector<std::string>& environment) {
  ProcessOptions options;
  options.workDir = workDir;
  options.environment = kNoDisplay;
  options.environment.insert(options.environment.end(), environment.begin(), environment.end());
  return runProcess(plenoviewCommand(args), options);
}

ProcessResult runSynth(const std::vector<std::string>& args, const std::string& workDir) {
  std::vector<std::string> argv = {PLENOVIEW_SYNTH_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions options;
  options.workDir = workDir;
  return runProcess(argv, options);
}

bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  const auto end = Clock::now() + timeout;
  while (true) {
    if (done()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
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

int BackgroundProcess::wait() {
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    exitStatus_ = shellStatus(status);
    pid_ = -1;
  }
  return exitStatus_;
}

void BackgroundProcess::signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

void BackgroundProcess::terminate(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!waitForExit(grace)) stop();
}

void BackgroundProcess::stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
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
    server_.terminate(std::chrono::seconds(3));
    return;
  }
  fs::remove(log);
  display_ = display;
}

PrivateXServer::~PrivateXServer() { server_.terminate(std::chrono::seconds(3)); }

}  // namespace plenoview::testing
