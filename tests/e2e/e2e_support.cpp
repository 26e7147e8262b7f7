#include "tests/e2e/e2e_support.h"

#include "tests/test_support.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>

namespace plenoview::testing {

cv::Mat sequenceFrame(int k) {
  cv::Mat frame(100, 200, CV_8UC1);
  cv::RNG rng(static_cast<uint64_t>(k) + 1);
  rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
  return frame;
}

void writeSequence(const std::string& dir, int first, int end) {
  writeTextFile(dir + "/calib.xml", CalibrationXml());
  for (int k = first; k < end; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "/f%03d.png", k);
    cv::imwrite(dir + name, sequenceFrame(k));
  }
}

std::map<std::string, std::string> filesIn(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::is_directory(folder)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename()] = readFile(entry.path());
  }
  return files;
}

std::vector<std::string> differingFiles(const std::map<std::string, std::string>& a,
                                        const std::map<std::string, std::string>& b) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : a) {
    const auto other = b.find(name);
    if (other == b.end() || other->second != bytes) names.push_back(name);
  }
  for (const auto& [name, bytes] : b) {
    if (a.find(name) == a.end()) names.push_back(name);
  }
  return names;
}

std::string viewFileName(int frame, int x, int y) {
  char name[64];
  std::snprintf(name, sizeof name, "Result_f%04d_c%02d%02d.png", frame, x, y);
  return name;
}

std::vector<std::string> viewFileNames(int first, int end, int N) {
  std::vector<std::string> names;
  for (int frame = first; frame < end; ++frame) {
    for (int y = 0; y < N; ++y) {
      for (int x = 0; x < N; ++x) names.push_back(viewFileName(frame, x, y));
    }
  }
  return names;
}

std::string argumentLines(const std::string& calibPath, const std::string& imagePath,
                          const std::string& imageNum, int viewNum) {
  return "CalibPath: " + calibPath + "\nImagePath: " + imagePath + "\nImageNum: " + imageNum +
         "\nViewNum: " + std::to_string(viewNum) + "\n";
}

std::string frameCounters(int first, int end) {
  std::string text;
  for (int k = first; k < end; ++k) {
    char counter[32];
    std::snprintf(counter, sizeof counter, "frameCnt:%04d\r", k);
    text += counter;
  }
  return text;
}

std::string summaryPattern(const std::string& counts) {
  return "summary: " + counts + " in [0-9]+\\.[0-9] s( \\([0-9]+\\.[0-9][0-9] s/frame\\))?\n";
}

}  // namespace plenoview::testing
