#pragma once

#include "calibration/lens_calibration.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>

namespace plenoview {

// What a calibration file may ask for. Every value that the grid arithmetic
// turns into an int is bounded here first, so that each conversion is in
// range; the bounds sit far outside anything a camera writes, and a file
// beyond them is refused with the key and value named, before anything is
// derived or allocated from it.

// A calibration file is a few kilobytes; a megabyte leaves room for comments
// and exporters' extra elements, and keeps a device or a huge file from
// being read into memory whole.
constexpr std::uintmax_t kMaxCalibrationFileBytes = std::uintmax_t{1} << 20;

// The format nests four deep (RayCalibData, lens_type, offset, x). The XML
// reader descends recursively, one stack frame per level, and a few thousand
// levels overflow the stack: the depth is checked before parsing.
constexpr int kMaxXmlDepth = 64;

// |rotation| in radians: half a turn. Any grid orientation is reachable
// within it; a larger value is a unit mix-up or a corrupt file.
constexpr double kMaxRotation = 3.14159265358979323846;

// |lens_type offset.x| and |offset.y|, in lens diameters. A real offset is a
// few diameters; a thousand keeps every reference lens position within a few
// hundred thousand pixels of the frame.
constexpr double kMaxLensTypeOffset = 1000.0;

// Throws PlenoviewError naming `path` unless it is a regular file of at most
// kMaxCalibrationFileBytes whose elements nest at most kMaxXmlDepth deep.
// A missing file is left to the XML reader, which reports it.
void checkCalibrationFile(const std::string& path);

// The deepest element nesting of the XML text: open tags count up, closing
// tags down; comments, CDATA sections, processing instructions, declarations
// and quoted attribute values are skipped. On malformed text the result is
// an upper bound of what a parser would descend before giving up.
int xmlNestingDepth(const std::string& text);

// Each throws PlenoviewError naming `path`, the key and the value when the
// value lies outside its bound above.
void checkRotation(double rotation, const std::string& path);
void checkLensTypeOffset(double value, const std::string& key, const std::string& path);

// The grid centre must lie inside the frame: 0 <= x <= W and r <= y <= H
// (a centre closer than a radius to the top edge has no lens row above it
// to count from). Throws naming RayCalibData.offset.x or .y.
void checkGridCentre(const cv::Point2d& centre, double radius, cv::Size frame,
                     const std::string& path);

// The frame must hold at least one whole row of three lenses (one of each
// type): `num` of at least (1, 1).
void checkLensGrid(const LensCalibration& calib, cv::Size frame, const std::string& path);

// A double for a message: at most 6 significant digits, "1e+300" rather than
// 300 digits.
std::string formatValue(double value);

}  // namespace plenoview
