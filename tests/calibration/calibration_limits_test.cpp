// Every way a calibration file is refused: what the reader cannot read, and
// the bounds on each value before the grid is derived.
#include "calibration/calibration_limits.h"

#include "base/plenoview_error.h"
#include "calibration/lens_calibration.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace plenoview {
namespace {

using testing::CalibrationXml;
using testing::makeTestDir;
using testing::writeTextFile;

// The worked example with `key` set to `value`.
std::string with(const std::string& key, const std::string& value) {
  return CalibrationXml().set(key, value);
}

// The worked example with one lens type, `id`, at offset (x, y).
std::string lensType(const std::string& id, const std::string& x, const std::string& y) {
  return CalibrationXml().lensTypes(testing::lensTypeXml(id, x, y));
}

// Reads the calibration file at `path` on a frame of `width` x `height`;
// returns the error message, or "" when the file is accepted. A refusal
// names the file and ends the run with status 1.
std::string refusalAt(const std::string& path, int width = 200, int height = 100) {
  try {
    LensCalibration calib;
    readCalibration(calib, cv::Size(width, height), path);
  } catch (const PlenoviewError& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + path + "\""), std::string::npos) << e.what();
    EXPECT_EQ(e.exitStatus, kExitFailure) << e.what();
    return e.what();
  }
  return "";
}

// The same for a file holding `xml`.
std::string refusal(const std::string& xml, int width = 200, int height = 100) {
  const std::string path = makeTestDir() + "/calib.xml";
  writeTextFile(path, xml);
  return refusalAt(path, width, height);
}

// `message` holds `part`; with `part` null, it is empty (the file accepted).
void expectMessage(const std::string& message, const char* part, const std::string& what) {
  if (part == nullptr) {
    EXPECT_EQ(message, "") << what;
  } else {
    EXPECT_NE(message.find(part), std::string::npos) << what << ": " << message;
  }
}

struct LimitCase {
  const char* what;
  std::string xml;
  const char* message;  // part of the message; nullptr: accepted
  int width = 200;
  int height = 100;
};

// D = 20 (r = 10) on a 200 x 100 frame unless stated: the centre is
// (100 + offset.x, 50 - offset.y).
TEST(CalibrationLimits, BoundsEveryValueBeforeTheGridIsDerived) {
  const LimitCase cases[] = {
      {"rotation 1e300", with("rotation", "1e300"),
       "RayCalibData.rotation 1e+300 is outside [-3.14159, 3.14159]"},
      {"rotation just past half a turn", with("rotation", "-3.1416"),
       "RayCalibData.rotation -3.1416 is outside"},
      {"rotation just inside half a turn", with("rotation", "3.14159"), nullptr},
      {"lens offset beyond 1000 diameters", lensType("1", "1000.5", "0"),
       "RayCalibData.lens_type #1 offset.x 1000.5 is outside [-1000, 1000]"},
      {"largest float lens offset", lensType("1", "0", "-3.4e38"),
       "RayCalibData.lens_type #1 offset.y -3.4e+38 is outside"},
      {"lens offset of 1000 diameters", lensType("1", "-1000", "1000"), nullptr},
      {"diameter 1e300 names the value briefly", with("diameter", "1e300"),
       "RayCalibData.diameter 1e+300 is outside the supported range [6, 258)"},
      // x: the centre may sit on either edge, not beyond.
      {"centre on the right edge", with("offset.x", "100"), nullptr},
      {"centre right of the frame", with("offset.x", "100.5"),
       "RayCalibData.offset.x puts the grid centre at x 200.5, outside the 200-pixel-wide frame"},
      {"centre on the left edge", with("offset.x", "-100"), nullptr},
      {"centre far left", with("offset.x", "-1e300"),
       "RayCalibData.offset.x puts the grid centre at x -1e+300"},
      {"centre far right", with("offset.x", "1e300"),
       "RayCalibData.offset.x puts the grid centre at x 1e+300, outside the 200-pixel-wide frame"},
      // y: at least a radius below the top edge, at most on the bottom edge.
      {"centre a radius below the top", with("offset.y", "40"), nullptr},
      {"centre above the frame", with("offset.y", "1e300"),
       "RayCalibData.offset.y puts the grid centre at y -1e+300, closer than a radius (10)"},
      {"centre on the bottom edge", with("offset.y", "-50"), nullptr},
      {"centre below the frame", with("offset.y", "-50.5"),
       "RayCalibData.offset.y puts the grid centre at y 100.5, below the 100-pixel-high frame"},
      {"centre far below", with("offset.y", "-1e9"),
       "RayCalibData.offset.y puts the grid centre at y 1e+09, below the 100-pixel-high frame"},
      // Columns on a frame of width W, centre W/2: left = right = (W/2 - 10) / 20.
      // W = 80: 1.5 each, the right remainder counts, 3 columns, num.x = 1.
      // W = 79: 1.475 each, 2 columns, num.x = 0.
      {"frame holding one lens of each type", CalibrationXml(), nullptr, 80},
      {"frame too narrow for three lens types", CalibrationXml(),
       "a 79 x 100 frame holds no whole row of three lenses (one of each type) with "
       "RayCalibData.diameter 20",
       79},
      // H = 20: the centre (y 10) is exactly a radius from the top; one row.
      {"frame one lens row high", CalibrationXml(), nullptr, 200, 20},
  };
  for (const LimitCase& c : cases)
    expectMessage(refusal(c.xml, c.width, c.height), c.message, c.what);
}

TEST(ReadCalibration, RefusesBadFilesNamingTheKeyAtFault) {
  const LimitCase cases[] = {
      {"not XML", "<RayCalibData><diameter>20</diam", "not well-formed XML"},
      {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "not well-formed XML"},
      {"empty file", "", "RayCalibData is missing"},
      {"no root", "<Other/>", "RayCalibData is missing"},
      {"no diameter", CalibrationXml().drop("diameter"), "RayCalibData.diameter is missing"},
      {"missing offset.y", CalibrationXml().drop("offset.y"), "RayCalibData.offset.y is missing"},
      {"trailing unit", with("diameter", "20px"),
       "RayCalibData.diameter: \"20px\" is not a number"},
      {"nan", with("diameter", "nan"), "RayCalibData.diameter: \"nan\" is not"},
      {"inf", with("diameter", "inf"), "RayCalibData.diameter: \"inf\" is not"},
      {"beyond double", with("diameter", "1e400"), "diameter: \"1e400\" is not"},
      {"comma decimal", with("rotation", "0,5"), "RayCalibData.rotation: \"0,5\""},
      {"rotation beyond double", with("rotation", "-1e400"),
       "RayCalibData.rotation: \"-1e400\" is not a number"},
      {"empty value", with("offset.x", ""), "RayCalibData.offset.x: \"\""},
      {"fractional id", lensType("1.5", "0", "0"), "attribute id: \"1.5\" is not a whole number"},
      {"id beyond int", lensType("99999999999", "0", "0"), "attribute id: \"99999999999\" is not"},
      {"id too large", lensType("3", "0", "0"), "lens_type #1 attribute id 3 is not a lens type"},
      {"negative id", lensType("-1", "0", "0"), "attribute id -1 is not a lens type"},
      {"lens offset text", lensType("0", "one", "0"), "lens_type #1 offset.x: \"one\""},
      {"lens offset beyond float", lensType("0", "1e39", "0"),
       "lens_type #1 offset.x: \"1e39\" is not a number"},
      {"missing id",
       CalibrationXml().lensTypes("<lens_type><offset><x>0</x><y>0</y></offset></lens_type>"),
       "lens_type #1 attribute id is missing"},
      {"diameter below 6", with("diameter", "5.9"), "RayCalibData.diameter 5.9"},
      {"diameter 0", with("diameter", "0"), "RayCalibData.diameter 0 is outside"},
      {"negative diameter", with("diameter", "-20"), "diameter -20 is outside"},
      {"diameter 258", with("diameter", "258"), "RayCalibData.diameter 258"},
      // Centre at y = 50 - 45 = 5, less than the radius 10 from the top.
      {"centre near top", with("offset.y", "45"),
       "RayCalibData.offset.y puts the grid centre at y 5, closer than a radius (10)"},
  };
  for (const LimitCase& c : cases) expectMessage(refusal(c.xml), c.message, c.what);
}

TEST(CalibrationLimits, RefusesFilesThatAreNotPlainCalibrationFiles) {
  const std::string dir = makeTestDir();
  const std::string valid = CalibrationXml();
  // Exactly 1 MiB is accepted, one byte more is not.
  const std::string comment =
      "<!--" + std::string(kMaxCalibrationFileBytes - valid.size() - 7, 'x') + "-->";
  writeTextFile(dir + "/big.xml", comment + valid);
  writeTextFile(dir + "/bigger.xml", comment + " " + valid);
  std::filesystem::create_directory(dir + "/folder.xml");
  const struct {
    std::string path;
    const char* message;  // nullptr when accepted
  } cases[] = {
      {dir + "/big.xml", nullptr},
      {dir + "/bigger.xml", "bigger.xml\" has 1048577 bytes, more than the 1048576"},
      {dir + "/folder.xml", "folder.xml\" is not a regular file"},
      {"/dev/null", "calibration file \"/dev/null\" is not a regular file"},
      {dir + "/missing.xml", "missing.xml\" cannot be opened"},
  };
  for (const auto& c : cases) expectMessage(refusalAt(c.path), c.message, c.path);
}

// RayCalibData holds `levels` nested elements: RayCalibData itself is one
// level more.
std::string nested(int levels) {
  std::string open, close;
  for (int i = 0; i < levels; ++i) {
    open += "<e>";
    close += "</e>";
  }
  return CalibrationXml().lensTypes(open + close);
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
