#include "calibration/lens_calibration.h"

#include "base/plenoview_error.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace plenoview {
namespace {

using testing::makeTestDir;
using testing::writeTextFile;

std::string calibrationXml(const std::string& diameter, const std::string& offsetX,
                           const std::string& lensTypes, const std::string& offsetY = "0",
                           const std::string& rotation = "0") {
  return "<RayCalibData>\n  <diameter>" + diameter + "</diameter>\n  <rotation>" + rotation +
         "</rotation>\n  <offset><x>" + offsetX + "</x><y>" + offsetY + "</y></offset>\n" +
         lensTypes + "</RayCalibData>\n";
}

std::string lensType(const std::string& id, const std::string& x, const std::string& y) {
  return "  <lens_type id=\"" + id + "\"><offset><x>" + x + "</x><y>" + y +
         "</y></offset></lens_type>\n";
}

const std::string kThreeTypes =
    lensType("0", "0", "0") + lensType("1", "1", "0") + lensType("2", "2", "0");

LensCalibration readFrom(const std::string& xml, int width, int height) {
  const std::string path = makeTestDir() + "/calib.xml";
  writeTextFile(path, xml);
  LensCalibration calib;
  readCalibration(calib, cv::Mat(height, width, CV_8UC1), path);
  return calib;
}

// D = 20 on a 200 x 100 frame: r = 10, centre (100, 50). Rows: above =
// trunc(40 / (10 sqrt 3)) = 2, below = 2, so 5 rows. Columns: left = right =
// 90 / 20 = 4.5; the right remainder 0.5 counts, 9 columns, 3 per type.
// Centre row class p = 0. Type t: K = 100 - 20 t, reduced by whole 60s to
// 40, 20, 60; odd rows O = K - 30 = 70, 50, 30 -> 10, 50, 30.
TEST(ReadCalibration, DerivesTheGridOfTheWorkedExample) {
  const LensCalibration calib = readFrom(calibrationXml("20", "0", kThreeTypes), 200, 100);
  EXPECT_EQ(calib.diameter, 20.0);
  EXPECT_EQ(calib.radius, 10.0);
  EXPECT_EQ(calib.rotation, 0.0);
  EXPECT_EQ(calib.center, cv::Point2d(100, 50));
  EXPECT_EQ(calib.num, cv::Point(3, 5));
  const double evenY = 50.0 - 20.0 * std::sqrt(3.0);  // one sqrt(3) D step up
  const double oddY = 50.0 - 10.0 * std::sqrt(3.0);   // one row up
  const double evenX[3] = {40, 20, 60};
  const double oddX[3] = {10, 50, 30};
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(calib.subGridRefPos[0][t].x, evenX[t]) << "type " << t;
    EXPECT_EQ(calib.subGridRefPos[1][t].x, oddX[t]) << "type " << t;
    EXPECT_DOUBLE_EQ(calib.subGridRefPos[0][t].y, evenY) << "type " << t;
    EXPECT_DOUBLE_EQ(calib.subGridRefPos[1][t].y, oddY) << "type " << t;
  }
}

// W = 198: with offset.x = 1 the centre stays at x = 100, left = 4.5 (a left
// remainder of exactly 0.5 does not count) and right = 4.4, so 8 columns; with
// offset.x = 0, left = right = 4.45, also 8 columns. Either way 2 per type.
TEST(ReadCalibration, CountsColumnsWithTheAsymmetricHalfRule) {
  const LensCalibration shifted = readFrom(calibrationXml("20", "1", kThreeTypes), 198, 100);
  EXPECT_EQ(shifted.center.x, 100.0);
  EXPECT_EQ(shifted.num.x, 2);
  const LensCalibration centred = readFrom(calibrationXml("20", "0", kThreeTypes), 198, 100);
  EXPECT_EQ(centred.center.x, 99.0);
  EXPECT_EQ(centred.num.x, 2);
}

TEST(ReadCalibration, FileYOffsetPointsUp) {
  const LensCalibration calib = readFrom(calibrationXml("20", "0", kThreeTypes, "5"), 200, 100);
  EXPECT_EQ(calib.center.y, 45.0);
}

TEST(ReadCalibration, LensTypeOffsetsPassThroughSinglePrecision) {
  const LensCalibration calib =
      readFrom(calibrationXml("20", "0", lensType("1", "0.1", "-0.25")), 200, 100);
  EXPECT_EQ(calib.offset[1].x, static_cast<double>(0.1f));
  EXPECT_NE(calib.offset[1].x, 0.1);
  EXPECT_EQ(calib.offset[1].y, -0.25);
  // Types the file does not list stay at (0, 0).
  EXPECT_EQ(calib.offset[0], cv::Point2d(0, 0));
  EXPECT_EQ(calib.offset[2], cv::Point2d(0, 0));
}

TEST(ReadCalibration, WithoutLensTypesEveryTypeSharesTheCentreColumn) {
  const LensCalibration calib = readFrom(calibrationXml("20", "0", ""), 200, 100);
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(calib.offset[t], cv::Point2d(0, 0));
    EXPECT_EQ(calib.subGridRefPos[0][t].x, 40.0);  // K = cx = 100 for every type
  }
}

TEST(ReadCalibration, LaterLensTypeWithTheSameIdWinsAndOtherElementsAreIgnored) {
  const std::string types = lensType("2", "1", "0") + "  <comment>x</comment>\n" +
                            "  <lens_type id=\"2\"><note/><offset><y>0.5</y><x>2</x></offset>"
                            "</lens_type>\n";
  const LensCalibration calib = readFrom(calibrationXml("20", "0", types), 200, 100);
  EXPECT_EQ(calib.offset[2], cv::Point2d(2, 0.5));
}

TEST(ReadCalibration, AcceptsBlanksAroundValues) {
  const LensCalibration calib =
      readFrom(calibrationXml(" 20\n ", "\t0 ", lensType(" 1 ", " 1 ", "0")), 200, 100);
  EXPECT_EQ(calib.diameter, 20.0);
  EXPECT_EQ(calib.offset[1].x, 1.0);
}

struct BadCalibration {
  const char* what;
  std::string xml;       // the file's text; no file at all when kNoFile
  const char* mustName;  // the key or value the message must name
};

const char* const kNoFile = "(no file)";

TEST(ReadCalibration, RefusesBadFilesNamingTheKeyAtFault) {
  const BadCalibration cases[] = {
      {"not XML", "<RayCalibData><diameter>20</diam", "not well-formed XML"},
      {"no root", "<Other/>", "RayCalibData is missing"},
      {"no diameter", "<RayCalibData><rotation>0</rotation></RayCalibData>",
       "RayCalibData.diameter is missing"},
      {"trailing unit", calibrationXml("20px", "0", ""), "RayCalibData.diameter: \"20px\""},
      {"comma decimal", calibrationXml("20", "0", "", "0", "0,5"),
       "RayCalibData.rotation: \"0,5\""},
      {"empty value", calibrationXml("20", "", ""), "RayCalibData.offset.x: \"\""},
      {"missing offset.y",
       "<RayCalibData><diameter>20</diameter><rotation>0</rotation>"
       "<offset><x>0</x></offset></RayCalibData>",
       "RayCalibData.offset.y is missing"},
      {"fractional id", calibrationXml("20", "0", lensType("1.5", "0", "0")),
       "attribute id: \"1.5\""},
      {"id too large", calibrationXml("20", "0", lensType("3", "0", "0")), "attribute id 3"},
      {"negative id", calibrationXml("20", "0", lensType("-1", "0", "0")), "attribute id -1"},
      {"lens offset text", calibrationXml("20", "0", lensType("0", "one", "0")),
       "lens_type #1 offset.x: \"one\""},
      {"missing id",
       calibrationXml("20", "0", "<lens_type><offset><x>0</x><y>0</y></offset></lens_type>"),
       "lens_type #1 attribute id is missing"},
      {"diameter below 6", calibrationXml("5.9", "0", ""), "RayCalibData.diameter 5.9"},
      {"diameter 258", calibrationXml("258", "0", ""), "RayCalibData.diameter 258"},
      // Centre at y = 50 - 45 = 5, less than the radius 10 from the top.
      {"centre near top", calibrationXml("20", "0", "", "45"), "RayCalibData.offset.y"},
      {"missing file", kNoFile, "calib.xml\" cannot be opened"},
  };
  for (const BadCalibration& bad : cases) {
    const std::string path = makeTestDir() + "/calib.xml";
    if (bad.xml != kNoFile) writeTextFile(path, bad.xml);
    LensCalibration calib;
    try {
      readCalibration(calib, cv::Mat(100, 200, CV_8UC1), path);
      ADD_FAILURE() << bad.what << ": accepted";
    } catch (const PlenoviewError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(path), std::string::npos) << bad.what << ": " << message;
      EXPECT_NE(message.find(bad.mustName), std::string::npos) << bad.what << ": " << message;
      EXPECT_EQ(e.exitStatus, kExitFailure);
    }
  }
}

}  // namespace
}  // namespace plenoview
