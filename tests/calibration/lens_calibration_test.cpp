#include "calibration/lens_calibration.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace plenoview {
namespace {

using testing::CalibrationXml;
using testing::lensTypeXml;
using testing::makeTestDir;
using testing::writeTextFile;

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
  const LensCalibration calib = readFrom(CalibrationXml(), 200, 100);
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
// The file's y offset points up: 5 puts the centre at y 50 - 5.
TEST(ReadCalibration, CountsColumnsWithTheAsymmetricHalfRule) {
  const LensCalibration shifted =
      readFrom(CalibrationXml().set("offset.x", "1").set("offset.y", "5"), 198, 100);
  EXPECT_EQ(shifted.center, cv::Point2d(100, 45));
  EXPECT_EQ(shifted.num.x, 2);
  const LensCalibration centred = readFrom(CalibrationXml(), 198, 100);
  EXPECT_EQ(centred.center.x, 99.0);
  EXPECT_EQ(centred.num.x, 2);
}

// Offsets pass through single precision; a type the file does not list stays
// at (0, 0); of two elements with one id the later wins, and other elements
// are ignored.
TEST(ReadCalibration, ReadsTheLensTypeElements) {
  const std::string types = lensTypeXml("1", "0.1", "-0.25") + lensTypeXml("2", "1", "0") +
                            "  <comment>x</comment>\n" +
                            "  <lens_type id=\"2\"><note/><offset><y>0.5</y><x>2</x></offset>"
                            "</lens_type>\n";
  const LensCalibration calib = readFrom(CalibrationXml().lensTypes(types), 200, 100);
  EXPECT_EQ(calib.offset[1].x, static_cast<double>(0.1f));
  EXPECT_NE(calib.offset[1].x, 0.1);
  EXPECT_EQ(calib.offset[1].y, -0.25);
  EXPECT_EQ(calib.offset[0], cv::Point2d(0, 0));
  EXPECT_EQ(calib.offset[2], cv::Point2d(2, 0.5));
}

TEST(ReadCalibration, WithoutLensTypesEveryTypeSharesTheCentreColumn) {
  const LensCalibration calib = readFrom(CalibrationXml().lensTypes(""), 200, 100);
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(calib.offset[t], cv::Point2d(0, 0));
    EXPECT_EQ(calib.subGridRefPos[0][t].x, 40.0);  // K = cx = 100 for every type
  }
}

TEST(ReadCalibration, AcceptsBlanksAroundValues) {
  const LensCalibration calib = readFrom(CalibrationXml()
                                             .set("diameter", " 20\n ")
                                             .set("offset.x", "\t0 ")
                                             .lensTypes(lensTypeXml(" 1 ", " 1 ", "0")),
                                         200, 100);
  EXPECT_EQ(calib.diameter, 20.0);
  EXPECT_EQ(calib.offset[1].x, 1.0);
}

}  // namespace
}  // namespace plenoview
