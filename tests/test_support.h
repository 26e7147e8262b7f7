#pragma once

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace plenoview::testing {

// Exact image comparison: on failure, the largest difference and where it is.
::testing::AssertionResult sameImage(const cv::Mat& actual, const cv::Mat& expected);

// The text of a calibration file: by default the worked example (D = 20, no
// rotation, the grid centred on the frame, lens-type offsets 0, 1, 2; used on
// a 200 x 100 frame), with single keys changed or dropped:
//   CalibrationXml().set("diameter", "5.9").drop("offset.y")
// The keys are diameter, rotation, offset.x and offset.y; a value goes in as
// it stands, blanks and all.
class CalibrationXml {
 public:
  CalibrationXml& set(const std::string& key, const std::string& value);
  CalibrationXml& drop(const std::string& key);
  // Replaces the three lens_type elements by `elements` (lensTypeXml, or any
  // text to stand inside RayCalibData after the offset).
  CalibrationXml& lensTypes(const std::string& elements);
  std::string text() const;
  operator std::string() const { return text(); }

 private:
  std::map<std::string, std::optional<std::string>> values_;
  std::optional<std::string> lensTypes_;
};

// <lens_type id="ID"><offset><x>X</x><y>Y</y></offset></lens_type> and a newline.
std::string lensTypeXml(const std::string& id, const std::string& x, const std::string& y);

// Its 15-line grid report on a 200 x 100 frame: 3 lenses per type and row, 5
// rows (the grid derived by hand in the calibration tests), values to six
// significant digits: 50 - 20 sqrt 3 = 15.35898... prints as 15.359,
// 50 - 10 sqrt 3 = 32.67949... as 32.6795.
extern const char* const kWorkedExampleReport;

// A small grid (D = 9, turned by 0.002, centre half a pixel off) whose outer
// lenses fall outside the views: on a 64 x 48 frame every frame prints
// window-test lines.
CalibrationXml smallLensCalibration();

// Names a parameterised test after its case's `name`:
//   INSTANTIATE_TEST_SUITE_P(Cases, SomeTest, ::testing::ValuesIn(kCases), testing::CaseName());
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.name;
  }
};

// A fresh, empty directory for one test, named after the running test, in a
// tree of this build's own under the temporary folder.
std::string makeTestDir();

// Writes `text` to `path`.
void writeTextFile(const std::string& path, const std::string& text);

// The bytes of the file at `path`; empty when it cannot be read.
std::string readFile(const std::string& path);

// Every file name in `folder`, hidden ones included, sorted; none when there
// is no such folder.
std::vector<std::string> namesIn(const std::string& folder);

// The message of the PlenoviewError that `body` throws, or "" when it throws
// none.
std::string refusal(const std::function<void()>& body);

// An X display name that no server on this machine serves (":987" or the
// next number without a socket or lock file): a display that is gone.
std::string unservedDisplay();

// CRC-32 as PNG chunks carry it (polynomial 0xEDB88320, bit by bit), written
// independently of the one under test.
std::uint32_t pngCrc32(const void* data, size_t size);

}  // namespace plenoview::testing
