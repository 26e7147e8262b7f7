#include "tests/test_support.h"

#include "base/plenoview_error.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace plenoview::testing {

namespace fs = std::filesystem;

CalibrationXml& CalibrationXml::set(const std::string& key, const std::string& value) {
  values_[key] = value;
  return *this;
}

CalibrationXml& CalibrationXml::drop(const std::string& key) {
  values_[key] = std::nullopt;
  return *this;
}

CalibrationXml& CalibrationXml::lensTypes(const std::string& elements) {
  lensTypes_ = elements;
  return *this;
}

std::string CalibrationXml::text() const {
  // <name>value</name> with the value set, the worked example's, or nothing.
  const auto element = [&](const std::string& key, const std::string& name,
                           const std::string& worked) -> std::string {
    const auto it = values_.find(key);
    if (it == values_.end()) return "<" + name + ">" + worked + "</" + name + ">";
    return it->second ? "<" + name + ">" + *it->second + "</" + name + ">" : "";
  };
  return "<RayCalibData>\n  " + element("diameter", "diameter", "20") + "\n  " +
         element("rotation", "rotation", "0") + "\n  <offset>" + element("offset.x", "x", "0") +
         element("offset.y", "y", "0") + "</offset>\n" +
         lensTypes_.value_or(lensTypeXml("0", "0", "0") + lensTypeXml("1", "1", "0") +
                             lensTypeXml("2", "2", "0")) +
         "</RayCalibData>\n";
}

std::string lensTypeXml(const std::string& id, const std::string& x, const std::string& y) {
  return "  <lens_type id=\"" + id + "\"><offset><x>" + x + "</x><y>" + y +
         "</y></offset></lens_type>\n";
}

CalibrationXml smallLensCalibration() {
  return CalibrationXml()
      .set("diameter", "9")
      .set("rotation", "0.002")
      .set("offset.x", "0.5")
      .set("offset.y", "-0.5");
}

const char* const kWorkedExampleReport =
    "==========MicroLens Parameter==========\n"
    "diameter: 20\n"
    "rotation: 0\n"
    "num: [3, 5]\n"
    "center: [100, 50]\n"
    "offset[0]: [0, 0]\n"
    "offset[1]: [1, 0]\n"
    "offset[2]: [2, 0]\n"
    "subGridRefPos[0][0]: [40, 15.359]\n"
    "subGridRefPos[0][1]: [20, 15.359]\n"
    "subGridRefPos[0][2]: [60, 15.359]\n"
    "subGridRefPos[1][0]: [10, 32.6795]\n"
    "subGridRefPos[1][1]: [50, 32.6795]\n"
    "subGridRefPos[1][2]: [30, 32.6795]\n"
    "=======================================\n";

::testing::AssertionResult sameImage(const cv::Mat& actual, const cv::Mat& expected) {
  if (actual.size() != expected.size() || actual.type() != expected.type()) {
    return ::testing::AssertionFailure()
           << "size/type " << actual.size() << "/" << actual.type() << " vs expected "
           << expected.size() << "/" << expected.type();
  }
  if (actual.empty()) return ::testing::AssertionSuccess();
  cv::Mat diff;
  cv::absdiff(actual, expected, diff);
  diff = diff.reshape(1);  // channels side by side in one row
  if (cv::countNonZero(diff) == 0) return ::testing::AssertionSuccess();
  cv::Point at;
  double worst = 0;
  cv::minMaxLoc(diff, nullptr, &worst, nullptr, &at);
  return ::testing::AssertionFailure()
         << "max |diff| " << worst << " at x=" << at.x / actual.channels() << " y=" << at.y
         << " channel " << at.x % actual.channels();
}

std::string refusal(const std::function<void()>& body) {
  try {
    body();
  } catch (const PlenoviewError& e) {
    return e.what();
  }
  return "";
}

std::string makeTestDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  // Test binaries of several checkouts or builds may run at once on one
  // machine, with the same test names: each build gets a tree of its own.
  const std::string build = std::to_string(std::hash<std::string>{}(PLENOVIEW_BINARY) % 1000000);
  const fs::path dir = fs::temp_directory_path() / ("plenoview_tests_" + build) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

void writeTextFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string unservedDisplay() {
  int number = 987;
  while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
         fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
    ++number;
  }
  return ":" + std::to_string(number);
}

std::uint32_t pngCrc32(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    c ^= bytes[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

}  // namespace plenoview::testing
