#include "calibration/calibration_limits.h"

#include "base/plenoview_error.h"
#include "calibration/lens_calibration.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace plenoview {
namespace {

using testing::makeTestDir;
using testing::writeTextFile;

std::string calibration(const std::string& diameter, const std::string& rotation,
                        const std::string& offsetX, const std::string& offsetY,
                        const std::string& inside = "") {
  return "<RayCalibData><diameter>" + diameter + "</diameter><rotation>" + rotation +
         "</rotation><offset><x>" + offsetX + "</x><y>" + offsetY + "</y></offset>" + inside +
         "</RayCalibData>";
}

std::string lensType(const std::string& x, const std::string& y) {
  return "<lens_type id=\"1\"><offset><x>" + x + "</x><y>" + y + "</y></offset></lens_type>";
}

// Reads `xml` on a frame of `width` x `height`; returns the error message, or
// "" when the file is accepted.
std::string refusal(const std::string& xml, int width = 200, int height = 100) {
  const std::string path = makeTestDir() + "/calib.xml";
  writeTextFile(path, xml);
  LensCalibration calib;
  try {
    readCalibration(calib, cv::Mat(height, width, CV_8UC1), path);
  } catch (const PlenoviewError& e) {
    return e.what();
  }
  return "";
}

struct LimitCase {
  const char* what;
  std::string xml;
  int width;
  int height;
  const char* message;  // part of the message; nullptr: accepted
};

// D = 20 (r = 10) on a 200 x 100 frame unless stated: the centre is
// (100 + offset.x, 50 - offset.y).
TEST(CalibrationLimits, BoundsEveryValueBeforeTheGridIsDerived) {
  const LimitCase cases[] = {
      {"rotation 1e300", calibration("20", "1e300", "0", "0"), 200, 100,
       "RayCalibData.rotation 1e+300 is outside [-3.14159, 3.14159]"},
      {"rotation just past half a turn", calibration("20", "-3.1416", "0", "0"), 200, 100,
       "RayCalibData.rotation -3.1416 is outside"},
      {"rotation just inside half a turn", calibration("20", "3.14159", "0", "0"), 200, 100,
       nullptr},
      {"lens offset beyond 1000 diameters",
       calibration("20", "0", "0", "0", lensType("1000.5", "0")), 200, 100,
       "RayCalibData.lens_type #1 offset.x 1000.5 is outside [-1000, 1000]"},
      {"largest float lens offset", calibration("20", "0", "0", "0", lensType("0", "-3.4e38")), 200,
       100, "RayCalibData.lens_type #1 offset.y -3.4e+38 is outside"},
      {"lens offset of 1000 diameters", calibration("20", "0", "0", "0", lensType("-1000", "1000")),
       200, 100, nullptr},
      {"diameter 1e300 names the value briefly", calibration("1e300", "0", "0", "0"), 200, 100,
       "RayCalibData.diameter 1e+300 is outside the supported range [6, 258)"},
      // x: the centre may sit on either edge, not beyond.
      {"centre on the right edge", calibration("20", "0", "100", "0"), 200, 100, nullptr},
      {"centre right of the frame", calibration("20", "0", "100.5", "0"), 200, 100,
       "RayCalibData.offset.x puts the grid centre at x 200.5, outside the 200-pixel-wide frame"},
      {"centre on the left edge", calibration("20", "0", "-100", "0"), 200, 100, nullptr},
      {"centre far left", calibration("20", "0", "-1e300", "0"), 200, 100,
       "RayCalibData.offset.x puts the grid centre at x -1e+300"},
      // y: at least a radius below the top edge, at most on the bottom edge.
      {"centre a radius below the top", calibration("20", "0", "0", "40"), 200, 100, nullptr},
      {"centre above the frame", calibration("20", "0", "0", "1e300"), 200, 100,
       "RayCalibData.offset.y puts the grid centre at y -1e+300, closer than a radius (10)"},
      {"centre on the bottom edge", calibration("20", "0", "0", "-50"), 200, 100, nullptr},
      {"centre below the frame", calibration("20", "0", "0", "-50.5"), 200, 100,
       "RayCalibData.offset.y puts the grid centre at y 100.5, below the 100-pixel-high frame"},
      // Columns on a frame of width W, centre W/2: left = right = (W/2 - 10) / 20.
      // W = 80: 1.5 each, the right remainder counts, 3 columns, num.x = 1.
      // W = 79: 1.475 each, 2 columns, num.x = 0.
      {"frame holding one lens of each type", calibration("20", "0", "0", "0"), 80, 100, nullptr},
      {"frame too narrow for three lens types", calibration("20", "0", "0", "0"), 79, 100,
       "a 79 x 100 frame holds no whole row of three lenses (one of each type) with "
       "RayCalibData.diameter 20"},
      // H = 20: the centre (y 10) is exactly a radius from the top; one row.
      {"frame one lens row high", calibration("20", "0", "0", "0"), 200, 20, nullptr},
  };
  for (const LimitCase& c : cases) {
    const std::string message = refusal(c.xml, c.width, c.height);
    if (c.message == nullptr) {
      EXPECT_EQ(message, "") << c.what;
    } else {
      EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    }
  }
}

TEST(CalibrationLimits, RefusesFilesThatAreNotPlainCalibrationFiles) {
  const std::string dir = makeTestDir();
  const std::string valid = calibration("20", "0", "0", "0");
  // Exactly 1 MiB is accepted, one byte more is not.
  const std::string comment =
      "<!--" + std::string(kMaxCalibrationFileBytes - valid.size() - 7, 'x') + "-->";
  writeTextFile(dir + "/big.xml", comment + valid);
  writeTextFile(dir + "/bigger.xml", comment + " " + valid);
  std::filesystem::create_directory(dir + "/folder.xml");
  const struct {
    std::string path;
    std::string message;  // "" when accepted
  } cases[] = {
      {dir + "/big.xml", ""},
      {dir + "/bigger.xml", "bigger.xml\" has 1048577 bytes, more than the 1048576"},
      {dir + "/folder.xml", "folder.xml\" is not a regular file"},
      {"/dev/null", "calibration file \"/dev/null\" is not a regular file"},
  };
  for (const auto& c : cases) {
    std::string message;
    try {
      LensCalibration calib;
      readCalibration(calib, cv::Mat(100, 200, CV_8UC1), c.path);
    } catch (const PlenoviewError& e) {
      message = e.what();
    }
    if (c.message.empty()) {
      EXPECT_EQ(message, "") << c.path;
    } else {
      EXPECT_NE(message.find(c.message), std::string::npos) << c.path << ": " << message;
    }
  }
}

// RayCalibData holds `levels` nested elements: RayCalibData itself is one
// level more.
std::string nested(int levels) {
  std::string open, close;
  for (int i = 0; i < levels; ++i) {
    open += "<e>";
    close += "</e>";
  }
  return calibration("20", "0", "0", "0", open + close);
}

TEST(CalibrationLimits, RefusesDeepNestingBeforeTheRecursiveParserSeesIt) {
  EXPECT_EQ(refusal(nested(kMaxXmlDepth - 1)), "");
  EXPECT_NE(refusal(nested(kMaxXmlDepth)).find("elements nest 65 deep, more than the 64 allowed"),
            std::string::npos);
  // Deep enough to overflow the stack of a recursive descent, and within
  // the file size limit.
  EXPECT_NE(refusal(nested(140000)).find("elements nest 140001 deep"), std::string::npos);
}

TEST(XmlNestingDepth, CountsOpenElementsLikeTheReader) {
  const struct {
    std::string text;
    int depth;
  } cases[] = {
      {"", 0},
      {"plain text > with <", 1},  // a lone '<' opens what the reader takes for a tag
      {"<a/>", 0},
      {"<a><b/></a>", 1},
      {"<a><b></b><c><d/></c></a>", 2},
      {"</a></a><b>", 1},                         // never below zero
      {"<a x='>' y=\"/>\"><b>", 2},               // quotes hide '>' and "/>"
      {"<a x='/'>", 1},                           // not self-closing
      {"<!-- <a><b> --><c>", 1},                  // comment
      {"<![CDATA[<a><b>]]><c>", 1},               // CDATA
      {"<?pi <a> ?><a>", 1},                      // processing instruction
      {"<?xml version='1.0'?><a><b>", 2},         // declaration
      {"<!DOCTYPE d [<!ELEMENT a (b)>]><a>", 1},  // brackets nest in a DOCTYPE
      {"<!x [><a><b>", 2},                        // other "<!" ends at the first '>'
      {std::string("<a>\0<b><c>", 10), 1},        // the reader stops at NUL
      {"<a><b", 2},                               // unfinished tag still counts
  };
  for (const auto& c : cases) EXPECT_EQ(xmlNestingDepth(c.text), c.depth) << c.text;
}

}  // namespace
}  // namespace plenoview
