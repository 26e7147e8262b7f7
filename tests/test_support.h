#pragma once

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

namespace plenoview::testing {

// Exact image comparison: on failure, the largest difference and where it is.
::testing::AssertionResult sameImage(const cv::Mat& actual, const cv::Mat& expected);

// The worked calibration example: D = 20, no rotation, the grid centred on
// the frame, lens-type offsets 0, 1, 2 (used on a 200 x 100 frame).
extern const char* const kWorkedExampleCalibration;

// Its 15-line grid report on a 200 x 100 frame: 3 lenses per type and row, 5
// rows (derived by hand in the calibration tests).
extern const char* const kWorkedExampleReport;

// A small grid (D = 9, turned by 0.002, centre half a pixel off) whose outer
// lenses fall outside the views: on a 64 x 48 frame every frame prints
// window-test lines.
extern const char* const kSmallLensCalibration;

// A fresh, empty directory for one test, named after the running test, in a
// tree of this build's own under the temporary folder.
std::string makeTestDir();

// Writes `text` to `path`.
void writeTextFile(const std::string& path, const std::string& text);

// The bytes of the file at `path`; empty when it cannot be read.
std::string readFile(const std::string& path);

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
