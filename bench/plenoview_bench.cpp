// Benchmark of the frame pipeline on full-resolution frames.
//
// For each case it generates colour frames with plenoview-synth, runs
// plenoview's own frame loop on them in a child process (so that the peak
// resident memory is the run's own), and prints per frame the median wall time, the CPU time, the
// minor page faults, the peak memory, the CPU time of each step, and two floors: OpenCV's, the
// CPU time of cv::imread of the frame plus that of cv::imencode (default PNG settings) of its
// N x N views, and plenoview's own, cv::imread plus its own PNG encoder at the default level, each
// divided by the worker threads and measured in the same run on the same frames. The same frames
// are then run as one raw YUV video in, a YUV file per view out, and set against PNG in and PNG
// out, and that once more with the patch sizes the YUV run saved (--load-patch-sizes), its views
// compared with the YUV run's. Where the machine can hold it, the same frames are also run with
// every scale level built whole (the reference path, on the first R frames; R = 0 skips it) and
// every output byte is compared.
//
//   plenoview-bench [--cases A,B,C,C15] [--frames F] [--reference-frames R]
//                   [--threads T] [--work DIR] [--synth PATH]

#include "driver/run_plenoview.h"
#include "io/png_encoder.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The steps a frame goes through, in order, as the child reports them.
const char* const kSteps[] = {"read",
                              "rotate",
                              "prepareRawImage",
                              "estimatePatchSizes",
                              "buildPatchMap",
                              "renderMultiViewImage",
                              "alignLensTypes",
                              "blendLensTypes",
                              "cropAndOrientViews",
                              "saveViews"};

struct BenchCase {
  std::string name;
  int width;
  int height;
  double diameter;
  int views;       // N
  bool reference;  // also run with every level built whole
};

const BenchCase kCases[] = {
    {"A", 2048, 2048, 23.2, 5, true},
    {"B", 3840, 2160, 34.98, 5, true},
    {"C", 6464, 4852, 37.15, 5, false},
    {"C15", 6464, 4852, 37.15, 15, false},
};

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Resident and peak resident memory of this process, in MB.
void residentMB(double& current, double& peak) {
  std::ifstream status("/proc/self/status");
  std::string key;
  current = peak = 0;
  while (status >> key) {
    double kb = 0;
    if (key == "VmRSS:" && status >> kb) current = kb / 1024;
    if (key == "VmHWM:" && status >> kb) peak = kb / 1024;
  }
}

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec * 1e-6;
}

// ---------------------------------------------------------------------------
// Child: runs plenoview itself, the driver's own frame loop, on the frames and
// writes one line per step and frame, "frame step wallSeconds cpuSeconds
// residentMB peakMB minorFaults", to the report file.

int runChild(const std::map<std::string, std::string>& args) {
  std::ofstream report(args.at("--report"));
  using Clock = std::chrono::steady_clock;
  int frameIndex = 0;
  Clock::time_point wallMark;
  double cpuMark = 0.0;
  long faultMark = 0;
  plenoview::FrameLoopObserver observer;
  observer.frameStarted = [&](int k) {
    frameIndex = k;
    wallMark = Clock::now();
    cpuMark = processCpuSeconds();
    faultMark = minorFaults();
  };
  observer.stepDone = [&](const char* step) {
    const Clock::time_point now = Clock::now();
    const double cpu = processCpuSeconds();
    double rss = 0;
    double hwm = 0;
    residentMB(rss, hwm);
    const long faults = minorFaults();
    report << frameIndex << ' ' << step << ' '
           << std::chrono::duration<double>(now - wallMark).count() << ' ' << cpu - cpuMark << ' '
           << rss << ' ' << hwm << ' ' << faults - faultMark << '\n';
    wallMark = now;
    cpuMark = cpu;
    faultMark = faults;
  };

  std::vector<std::string> line = {"plenoview",          "--no-window",  "--threads",
                                   args.at("--threads"), "--output-dir", args.at("--out")};
  if (args.at("--child") == "all-levels") line.push_back("--all-scale-levels");
  const std::string mode = args.at("--child");
  if (mode == "yuv" || mode == "yuv-loaded") {
    line.push_back("--output-format");
    line.push_back("yuv");
    // The estimating run saves the patch sizes the loading run renders with.
    line.push_back(mode == "yuv" ? "--save-patch-sizes" : "--load-patch-sizes");
    line.push_back(args.at("--out") + "/../patch-sizes");
  }
  for (const std::string& positional :
       {args.at("--calib"), args.at("--pattern"), args.at("--frames"), args.at("--views")}) {
    line.push_back(positional);
  }
  std::vector<const char*> argv;
  for (const std::string& argument : line) argv.push_back(argument.c_str());
  const int status = plenoview::runPlenoview(static_cast<int>(argv.size()), argv.data(), observer);
  std::fflush(stdout);
  return status;
}

// ---------------------------------------------------------------------------
// Parent.

struct RunFigures {
  bool ran = false;
  int status = -1;
  double peakMB = 0.0;
  int frames = 0;
  double wall = 0.0;                       // median over frames, read to handed over
  double cpu = 0.0;                        // median over frames
  double faults = 0.0;                     // median minor page faults a frame, steady state
  double floor = 0.0;                      // median floor a frame, OpenCV's codec (floorsOf)
  double ownFloor = 0.0;                   // the same with plenoview's own PNG encoder
  std::map<std::string, double> stepWall;  // summed over frames
  std::map<std::string, double> stepCpu;   // summed over frames
  double totalWall = 0.0;
  std::string errors;  // the child's stderr when it failed
};

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs this program as a child with `childArgs`, its stdout into
// `consolePath` and its stderr into `errorPath`, and reads back its report.
RunFigures runInChild(const std::string& self, const std::vector<std::string>& childArgs,
                      const std::string& consolePath, const std::string& errorPath,
                      const std::string& reportPath) {
  RunFigures figures;
  std::vector<std::string> argv = {self};
  argv.insert(argv.end(), childArgs.begin(), childArgs.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);

  std::cout.flush();
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) dup2(out, 1);
    const int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) dup2(err, 2);
    execv(self.c_str(), raw.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  figures.ran = true;
  figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  figures.peakMB = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
  if (figures.status != 0) figures.errors = readFile(errorPath);

  std::ifstream report(reportPath);
  std::map<int, double> frameWall;
  std::map<int, double> frameCpu;
  std::map<int, double> frameFaults;
  std::map<int, bool> frameSaved;
  int frame = 0;
  std::string step;
  double wall = 0.0;
  double cpu = 0.0;
  double rss = 0.0;
  double hwm = 0.0;
  long faults = 0;
  while (report >> frame >> step >> wall >> cpu >> rss >> hwm >> faults) {
    frameWall[frame] += wall;
    frameCpu[frame] += cpu;
    frameFaults[frame] += faults;
    if (step == "saveViews") frameSaved[frame] = true;
    figures.stepWall[step] += wall;
    figures.stepCpu[step] += cpu;
    figures.totalWall += wall;
  }
  std::vector<double> walls, cpus, faultCounts;
  // Only frames that were saved count. The page faults of the steady state
  // leave out the first two frames, which touch the memory kept from then on
  // (the second frame the second image of the pool the frames decode into).
  for (const auto& [index, saved] : frameSaved) {
    walls.push_back(frameWall[index]);
    cpus.push_back(frameCpu[index]);
    if (frameSaved.size() <= 2 || index >= frameSaved.begin()->first + 2) {
      faultCounts.push_back(frameFaults[index]);
    }
  }
  figures.frames = static_cast<int>(walls.size());
  figures.wall = median(walls);
  figures.cpu = median(cpus);
  figures.faults = median(faultCounts);
  return figures;
}

// `console` without its line "ImageNum: ...".
std::string withoutImageNum(std::string console) {
  const size_t at = console.find("\nImageNum: ");
  if (at != std::string::npos) console.erase(at, console.find('\n', at + 1) - at);
  return console;
}

// Compares every view file the reference run wrote with the same file of the
// on-demand run, and the two consoles. Returns a one-line verdict.
std::string compareOutputs(const fs::path& demandDir, const fs::path& referenceDir,
                           int referenceFrames, int views, bool& identical) {
  identical = true;
  int files = 0;
  for (int f = 0; f < referenceFrames; ++f) {
    for (int y = 0; y < views; ++y) {
      for (int x = 0; x < views; ++x) {
        char name[64];
        std::snprintf(name, sizeof name, "Result/Result_f%04d_c%02d%02d.png", f, x, y);
        const std::string a = readFile(demandDir / name);
        const std::string b = readFile(referenceDir / name);
        ++files;
        if (a.empty() || a != b) {
          identical = false;
          return std::string("DIFFERENT: ") + name;
        }
      }
    }
  }
  // The consoles cover all frames of each run; compare the common part. The
  // runs were asked for different numbers of frames: ImageNum is left out.
  const std::string a = withoutImageNum(readFile(demandDir / "console.txt"));
  const std::string b = withoutImageNum(readFile(referenceDir / "console.txt"));
  const std::string marker = "frameCnt:" + cv::format("%04d", referenceFrames) + "\r";
  const std::string common = a.substr(0, a.find(marker));
  if (common != b) {
    identical = false;
    return "DIFFERENT console output";
  }
  std::ostringstream verdict;
  verdict << "identical: " << files << " PNG files byte for byte, console " << b.size() << " bytes";
  return verdict.str();
}

// The first field of /proc/loadavg: how busy the machine was over the last
// minute (the figures are only comparable on a quiet machine).
// Whether two folders hold the same files with the same bytes.
bool sameViewFiles(const fs::path& a, const fs::path& b) {
  std::map<std::string, std::string> left;
  std::map<std::string, std::string> right;
  for (const auto& [folder, files] : {std::pair{a, &left}, std::pair{b, &right}}) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      (*files)[it->path().filename().string()] = readFile(it->path());
    }
  }
  return !left.empty() && left == right;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string oneMinute;
  in >> oneMinute;
  return oneMinute.empty() ? "?" : oneMinute;
}

long memAvailableMB() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  long value = 0;
  std::string unit;
  while (meminfo >> key >> value >> unit) {
    if (key == "MemAvailable:") return value / 1024;
  }
  return 0;
}

bool generateFrames(const std::string& synth, const BenchCase& c, int frames, const fs::path& dir) {
  std::ostringstream stamp;
  stamp << c.width << "x" << c.height << " d" << c.diameter << " frames " << frames << " views "
        << c.views;
  if (readFile(dir / "stamp.txt") == stamp.str()) return true;
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Colour, a slightly rotated grid, the scene moving 2 view pixels a frame.
  std::ostringstream command;
  command << "'" << synth << "' --width " << c.width << " --height " << c.height << " --diameter "
          << c.diameter << " --rotation 0.0012 --colour --frames " << frames
          << " --motion 2,0 --views " << c.views << " --out '" << dir.string() << "' > '"
          << (dir / "synth.log").string() << "' 2>&1";
  std::cout << "  generating " << frames << " frame(s) of " << c.width << " x " << c.height
            << " ..." << std::endl;
  if (std::system(command.str().c_str()) != 0) {
    std::cerr << "plenoview-bench: the generator failed, see " << (dir / "synth.log") << "\n";
    return false;
  }
  std::ofstream(dir / "stamp.txt") << stamp.str();
  return true;
}

// The frames of `dir` as one raw I420 video, named as the standard sequences
// are, for the YUV in, YUV out row: each PNG frame converted with
// cv::cvtColor(COLOR_BGR2YUV_I420). Returns its path, or "" when a frame
// cannot be read.
std::string makeVideo(const BenchCase& c, int frames, const fs::path& dir) {
  const fs::path path = dir / ("bench_" + std::to_string(c.width) + "x" + std::to_string(c.height) +
                               "_" + std::to_string(frames) + "frames_8bit_yuv420.yuv");
  const auto bytes = static_cast<std::uintmax_t>(c.width) * c.height * 3 / 2 * frames;
  std::error_code error;
  if (fs::file_size(path, error) == bytes && !error) return path.string();
  std::ofstream video(path, std::ios::binary | std::ios::trunc);
  for (int f = 0; f < frames; ++f) {
    const cv::Mat frame = cv::imread((dir / cv::format("frame%03d.png", f)).string());
    if (frame.empty()) return "";
    cv::Mat planes;
    cv::cvtColor(frame, planes, cv::COLOR_BGR2YUV_I420);
    video.write(reinterpret_cast<const char*>(planes.data),
                static_cast<std::streamsize>(planes.total()));
  }
  video.close();
  return video ? path.string() : "";
}

void printFigures(const RunFigures& r, const std::string& label) {
  std::printf(
      "  %-12s frames %d  wall/frame %7.2f s  cpu/frame %7.2f s  minor faults/frame (steady) "
      "%6.0f  peak "
      "%7.0f MB  floor %6.2f s  wall/floor %5.2f  own floor %6.2f s  wall/own floor %5.2f%s\n",
      label.c_str(), r.frames, r.wall, r.cpu, r.faults, r.peakMB, r.floor,
      r.floor > 0 ? r.wall / r.floor : 0.0, r.ownFloor, r.ownFloor > 0 ? r.wall / r.ownFloor : 0.0,
      r.status == 0 ? "" : "  FAILED");
  if (r.status != 0) std::printf("%s", r.errors.c_str());
  std::printf("  %-12s cpu s/frame:", "");
  for (const char* step : kSteps) {
    const auto it = r.stepCpu.find(step);
    const double seconds = it == r.stepCpu.end() || r.frames <= 0 ? 0 : it->second / r.frames;
    std::printf(" %s %.2f", step, seconds);
  }
  std::printf("\n");
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// The floors of a frame: the CPU time of reading its PNG file plus that of
// encoding its N x N views as PNG, divided by the worker threads; `floor`
// with cv::imencode's default settings, `ownFloor` with plenoview's own
// encoder at its default level. The views are those the run wrote (decoded
// here first, untimed). Medians over the frames; 0 when a file is missing.
void floorsOf(const fs::path& framesDir, const fs::path& outDir, int frames, int views, int threads,
              double& floor, double& ownFloor) {
  std::vector<double> floors;
  std::vector<double> ownFloors;
  plenoview::PngEncoder encoder;
  floor = ownFloor = 0.0;
  for (int f = 0; f < frames; ++f) {
    const double readStart = threadCpuSeconds();
    const cv::Mat frame = cv::imread((framesDir / cv::format("frame%03d.png", f)).string());
    const double read = threadCpuSeconds() - readStart;
    if (frame.empty()) return;
    double opencv = 0.0;
    double own = 0.0;
    std::vector<uchar> bytes;
    for (int y = 0; y < views; ++y) {
      for (int x = 0; x < views; ++x) {
        const cv::Mat view =
            cv::imread((outDir / cv::format("Result/Result_f%04d_c%02d%02d.png", f, x, y)).string(),
                       cv::IMREAD_UNCHANGED);
        if (view.empty()) return;
        const double encodeStart = threadCpuSeconds();
        cv::imencode(".png", view, bytes);
        const double ownStart = threadCpuSeconds();
        encoder.encode(view, bytes);
        const double ownEnd = threadCpuSeconds();
        opencv += ownStart - encodeStart;
        own += ownEnd - ownStart;
      }
    }
    floors.push_back((read + opencv) / std::max(1, threads));
    ownFloors.push_back((read + own) / std::max(1, threads));
  }
  floor = median(floors);
  ownFloor = median(ownFloors);
}

int runParent(const std::map<std::string, std::string>& args, const std::string& self) {
  const int frames = args.count("--frames") ? std::stoi(args.at("--frames")) : 4;
  const int referenceFrames = std::min(
      frames, args.count("--reference-frames") ? std::stoi(args.at("--reference-frames")) : frames);
  const std::string threads = args.count("--threads") ? args.at("--threads") : "2";
  const fs::path work = args.count("--work") ? args.at("--work") : "bench-work";
  const std::string synth = args.count("--synth")
                                ? args.at("--synth")
                                : (fs::path(self).parent_path() / "plenoview-synth").string();
  const std::string wanted = "," + (args.count("--cases") ? args.at("--cases") : "A,B,C") + ",";

  std::printf(
      "plenoview benchmark: %u hardware threads, pipeline threads %s, %d "
      "frame(s) per "
      "case (median), %ld MB memory available\n",
      std::max(1u, static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN))), threads.c_str(), frames,
      memAvailableMB());
  bool allIdentical = true;
  for (const BenchCase& c : kCases) {
    if (wanted.find("," + c.name + ",") == std::string::npos) continue;
    std::printf("\ncase %s: %d x %d, diameter %.2f, %d x %d views, colour (load average %s)\n",
                c.name.c_str(), c.width, c.height, c.diameter, c.views, c.views,
                loadAverage().c_str());
    const fs::path dir = work / c.name;
    if (!generateFrames(synth, c, frames, dir / "frames")) return 1;
    const std::string calib = (dir / "frames" / "calib.xml").string();
    const std::string pattern = (dir / "frames" / "frame%03d.png").string();

    auto runMode = [&](const std::string& mode, int count, const std::string& input) {
      const fs::path out = dir / mode;
      fs::remove_all(out);
      fs::create_directories(out);
      return runInChild(
          self,
          {"--child", mode, "--calib", calib, "--pattern", input, "--frames", std::to_string(count),
           "--threads", threads, "--views", std::to_string(c.views), "--out", out.string(),
           "--report", (out / "report.txt").string()},
          (out / "console.txt").string(), (out / "errors.txt").string(),
          (out / "report.txt").string());
    };

    RunFigures demand = runMode("on-demand", frames, pattern);
    if (demand.status == 0) {
      floorsOf(dir / "frames", dir / "on-demand", frames, c.views, std::stoi(threads), demand.floor,
               demand.ownFloor);
    }
    printFigures(demand, "on demand");
    // The same frames as one raw YUV video in, a YUV file per view out: the
    // workflow of the standard sequences, beside PNG in and PNG out.
    const std::string video = makeVideo(c, frames, dir / "frames");
    if (video.empty()) {
      std::printf("  yuv in/out not run: the frames could not be converted\n");
    } else {
      RunFigures yuv = runMode("yuv", frames, video);
      yuv.floor = demand.floor;
      yuv.ownFloor = demand.ownFloor;
      printFigures(yuv, "yuv in/out");
      if (yuv.status == 0 && demand.status == 0) {
        std::printf(
            "  ratios (yuv in/out / png in/out): wall %.3f (1/%.1f), cpu %.3f, peak memory "
            "%.3f\n",
            yuv.wall / demand.wall, demand.wall / yuv.wall, yuv.cpu / demand.cpu,
            yuv.peakMB / demand.peakMB);
      }
      // Again with the patch sizes the run above saved: no estimation.
      RunFigures loaded = runMode("yuv-loaded", frames, video);
      loaded.floor = demand.floor;
      printFigures(loaded, "yuv, sizes loaded");
      if (loaded.status == 0 && yuv.status == 0) {
        const bool same = sameViewFiles(dir / "yuv" / "Result", dir / "yuv-loaded" / "Result");
        std::printf("  ratios (sizes loaded / estimated): wall %.3f, cpu %.3f; views %s\n",
                    loaded.wall / yuv.wall, loaded.cpu / yuv.cpu, same ? "identical" : "DIFFERENT");
        allIdentical = allIdentical && same;
      }
    }
    if (!c.reference) {
      std::printf(
          "  reference path (every level built whole) not run: it needs far "
          "more memory "
          "than this machine has\n");
      continue;
    }
    if (referenceFrames <= 0) {
      std::printf("  reference path (every level built whole) not run: --reference-frames 0\n");
      continue;
    }
    // The reference holds every level at once: about 500 x the frame at
    // diameter 35, 190 x at 23.
    const double needMB =
        c.width * static_cast<double>(c.height) * 3 * (c.diameter > 30 ? 500 : 200) / 1048576.0;
    if (memAvailableMB() < needMB * 1.1) {
      std::printf("  reference path skipped: needs about %.0f MB, %ld MB available\n", needMB,
                  memAvailableMB());
      continue;
    }
    RunFigures reference = runMode("all-levels", referenceFrames, pattern);
    reference.floor = demand.floor;
    reference.ownFloor = demand.ownFloor;
    printFigures(reference, "all levels");
    if (demand.status != 0 || reference.status != 0) {
      allIdentical = false;
      continue;
    }
    std::printf(
        "  ratios (on demand / all levels): wall %.3f (1/%.1f), peak memory "
        "%.4f "
        "(1/%.1f)\n",
        demand.wall / reference.wall, reference.wall / demand.wall,
        demand.peakMB / reference.peakMB, reference.peakMB / demand.peakMB);
    bool identical = false;
    const std::string verdict =
        compareOutputs(dir / "on-demand", dir / "all-levels", referenceFrames, c.views, identical);
    std::printf("  output: %s\n", verdict.c_str());
    allIdentical = allIdentical && identical;
  }
  std::printf("\nload average at the end: %s\n", loadAverage().c_str());
  return allIdentical ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> args;
  for (int i = 1; i + 1 < argc; i += 2) args[argv[i]] = argv[i + 1];
  if (argc % 2 == 0 || (argc > 1 && std::strcmp(argv[1], "--help") == 0)) {
    std::cerr << "usage: plenoview-bench [--cases A,B,C,C15] [--frames F] "
                 "[--reference-frames R]\n"
                 "                       [--threads T] [--work DIR] [--synth PATH]\n"
                 "  --reference-frames 0 skips the reference path (every level built whole)\n";
    return 2;
  }
  try {
    if (args.count("--child")) return runChild(args);
    const std::string self = fs::canonical("/proc/self/exe").string();
    return runParent(args, self);
  } catch (const std::exception& e) {
    std::cerr << "plenoview-bench: " << e.what() << "\n";
    return 1;
  }
}
