#include "calibration/lens_calibration.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace plenoview {
namespace {

using plenoview::testing::sameImage;

const cv::Vec3b kRed(0, 0, 255);
const cv::Vec3b kGreen(0, 255, 0);
const cv::Vec3b kBlue(255, 0, 0);

// One circle the overlay should hold: centre already on the 1/16 pixel grid.
struct Circle {
  double x;
  double y;
  double radius;
  cv::Vec3b colour;
};

// A record set by hand. The overlay takes the positions as they stand, so they
// need not follow the reader's grid; fields it must not use are set to values
// that would put circles visibly elsewhere.
LensCalibration handCalibration() {
  LensCalibration calib;
  calib.diameter = 10.0;
  calib.radius = 5.0;
  calib.num = cv::Point(1, 2);
  calib.center = cv::Point2d(180.0, 45.0);
  calib.subGridRefPos[0][0] = cv::Point2d(15.25, 12.0);
  calib.subGridRefPos[0][1] = cv::Point2d(35.75, 50.0);  // y never used
  calib.subGridRefPos[0][2] = cv::Point2d(55.0, 50.0);   // y never used
  calib.subGridRefPos[1][0] = cv::Point2d(120.0, 55.0);  // y never used
  calib.subGridRefPos[1][1] = cv::Point2d(140.0, 55.0);
  calib.subGridRefPos[1][2] = cv::Point2d(160.6, 55.0);
  return calib;
}

bool hasColour(const cv::Mat& image, int x, int y, const cv::Vec3b& colour) {
  return image.at<cv::Vec3b>(y, x) == colour;
}

// Checks that the cross and every circle are there (a circle's four compass
// pixels, rounded, carry its colour) and that nothing else was drawn: each pixel that differs from
// the background lies on the blue cross (2 pixels thick through midX, midY) or
// within a pixel of the rim of a listed circle of its own colour.
void expectOverlay(const cv::Mat& overlay, const cv::Vec3b& background, int midX, int midY,
                   const std::vector<Circle>& circles) {
  ASSERT_EQ(overlay.type(), CV_8UC3);
  // The cross reaches the top and the left edge (no case has a circle there).
  EXPECT_TRUE(hasColour(overlay, midX, 0, kBlue));
  EXPECT_TRUE(hasColour(overlay, 0, midY, kBlue));
  for (const Circle& c : circles) {
    const int x = static_cast<int>(std::lround(c.x));
    const int y = static_cast<int>(std::lround(c.y));
    const int left = static_cast<int>(std::lround(c.x - c.radius));
    const int right = static_cast<int>(std::lround(c.x + c.radius));
    const int top = static_cast<int>(std::lround(c.y - c.radius));
    const int bottom = static_cast<int>(std::lround(c.y + c.radius));
    EXPECT_TRUE(hasColour(overlay, left, y, c.colour)) << "circle at " << c.x << "," << c.y;
    EXPECT_TRUE(hasColour(overlay, right, y, c.colour)) << "circle at " << c.x << "," << c.y;
    EXPECT_TRUE(hasColour(overlay, x, top, c.colour)) << "circle at " << c.x << "," << c.y;
    EXPECT_TRUE(hasColour(overlay, x, bottom, c.colour)) << "circle at " << c.x << "," << c.y;
    EXPECT_TRUE(hasColour(overlay, x, y, background))
        << "centre of circle at " << c.x << "," << c.y;
  }
  int stray = 0;
  for (int y = 0; y < overlay.rows; ++y) {
    for (int x = 0; x < overlay.cols; ++x) {
      const cv::Vec3b pixel = overlay.at<cv::Vec3b>(y, x);
      if (pixel == background) continue;
      if (pixel == kBlue && (std::abs(x - midX) <= 1 || std::abs(y - midY) <= 1)) continue;
      bool onRim = false;
      for (const Circle& c : circles) {
        const double distance = std::hypot(x - c.x, y - c.y);
        onRim = onRim || (pixel == c.colour && std::abs(distance - c.radius) <= 1.0);
      }
      if (!onRim && ++stray <= 5)
        ADD_FAILURE() << "stray pixel " << pixel << " at " << x << "," << y;
    }
  }
}

TEST(CalibrationOverlay, CrossGoesThroughTheImageCentreRoundedToEven) {
  struct Case {
    int width, height, midX, midY;
  };
  // W x 0.5 = 50.5 rounds to 50, 51.5 to 52; H x 0.5 = 37.5 and 38.5 both to 38.
  const Case cases[] = {{101, 75, 50, 38}, {103, 77, 52, 38}, {100, 60, 50, 30}};
  for (const Case& c : cases) {
    LensCalibration calib = handCalibration();
    calib.num = cv::Point(0, 0);
    calib.center = cv::Point2d(-100.0, -100.0);  // centre circle outside the picture
    const cv::Mat grey(c.height, c.width, CV_8UC1, cv::Scalar(40));
    const cv::Mat overlay = calib.calibrationOverlay(grey);
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    ASSERT_EQ(overlay.size(), grey.size());
    // Thickness 2 stays within one pixel of the line, so the pixels two away
    // on either side tell a line one pixel off.
    const int row = c.height / 4;
    EXPECT_TRUE(hasColour(overlay, c.midX, row, kBlue));
    EXPECT_FALSE(hasColour(overlay, c.midX - 2, row, kBlue));
    EXPECT_FALSE(hasColour(overlay, c.midX + 2, row, kBlue));
    const int column = c.width / 4;
    EXPECT_TRUE(hasColour(overlay, column, c.midY, kBlue));
    EXPECT_FALSE(hasColour(overlay, column, c.midY - 2, kBlue));
    EXPECT_FALSE(hasColour(overlay, column, c.midY + 2, kBlue));
    // The lines run from edge to edge.
    EXPECT_TRUE(hasColour(overlay, c.midX, 0, kBlue));
    EXPECT_TRUE(hasColour(overlay, c.midX, c.height - 1, kBlue));
    EXPECT_TRUE(hasColour(overlay, 0, c.midY, kBlue));
    EXPECT_TRUE(hasColour(overlay, c.width - 1, c.midY, kBlue));
    expectOverlay(overlay, cv::Vec3b(40, 40, 40), c.midX, c.midY, {});
  }
}

TEST(CalibrationOverlay, TwoRowsOfOneLensPerTypeGiveSixCirclesAndTheCentreOnACopy) {
  const LensCalibration calib = handCalibration();
  // Row 1 lies sqrt(3) x 5 = 8.660254 below row 0's 12.0 for every type;
  // 20.660254 x 16 = 330.56 rounds to 331, i.e. 20.6875 on the 1/16 grid.
  const std::vector<Circle> circles = {
      {15.25, 12.0, 5.0, kRed},   {120.0, 20.6875, 5.0, kRed},
      {35.75, 12.0, 5.0, kGreen}, {140.0, 20.6875, 5.0, kGreen},
      {55.0, 12.0, 5.0, kBlue},   {160.625, 20.6875, 5.0, kBlue},  // 160.6 x 16 = 2569.6 -> 2570
      {180.0, 45.0, 5.0, kRed},                                    // grid centre
  };
  for (const int type : {CV_8UC1, CV_8UC3}) {
    const cv::Scalar colour = type == CV_8UC1 ? cv::Scalar::all(40) : cv::Scalar(10, 20, 30);
    const cv::Mat image(60, 200, type, colour);
    const cv::Mat untouched = image.clone();
    expectOverlay(calib.calibrationOverlay(image), cv::Vec3b(colour[0], colour[1], colour[2]), 100,
                  30, circles);
    EXPECT_TRUE(sameImage(image, untouched)) << "the raw image must be left as it was";
  }
}

TEST(CalibrationOverlay, LensesOfOneTypeRepeatEveryThreeDiameters) {
  LensCalibration calib = handCalibration();
  calib.radius = 2.0;  // small circles, so that neighbours stay apart
  calib.num = cv::Point(2, 1);
  calib.subGridRefPos[0][0] = cv::Point2d(5.0, 10.0);
  calib.subGridRefPos[0][1] = cv::Point2d(15.0, 10.0);
  calib.subGridRefPos[0][2] = cv::Point2d(25.0, 10.0);
  calib.center = cv::Point2d(90.0, 30.0);
  const cv::Mat grey(40, 100, CV_8UC1, cv::Scalar(0));
  // Same type: 3 x diameter = 30 pixels further right.
  const std::vector<Circle> circles = {
      {5.0, 10.0, 2.0, kRed},    {35.0, 10.0, 2.0, kRed},  {15.0, 10.0, 2.0, kGreen},
      {45.0, 10.0, 2.0, kGreen}, {25.0, 10.0, 2.0, kBlue}, {55.0, 10.0, 2.0, kBlue},
      {90.0, 30.0, 2.0, kRed},
  };
  expectOverlay(calib.calibrationOverlay(grey), cv::Vec3b(0, 0, 0), 50, 20, circles);
}

TEST(CalibrationOverlay, EmptyGridDrawsOnlyTheCrossAndTheCentre) {
  for (const cv::Point num : {cv::Point(0, 2), cv::Point(1, 0), cv::Point(0, 0)}) {
    LensCalibration calib = handCalibration();
    calib.num = num;
    const cv::Mat grey(60, 200, CV_8UC1, cv::Scalar(40));
    SCOPED_TRACE(::testing::Message() << "num " << num);
    expectOverlay(calib.calibrationOverlay(grey), cv::Vec3b(40, 40, 40), 100, 30,
                  {{180.0, 45.0, 5.0, kRed}});
  }
}

TEST(CalibrationOverlay, LaterCirclesCoverEarlierOnes) {
  // Type 2 is drawn after type 0 at the same place, and the grid centre after
  // every lens: neither the red lens nor the green one may show.
  LensCalibration calib = handCalibration();
  calib.num = cv::Point(1, 1);
  calib.subGridRefPos[0][0] = cv::Point2d(20.0, 10.0);
  calib.subGridRefPos[0][2] = cv::Point2d(20.0, 10.0);
  calib.subGridRefPos[0][1] = cv::Point2d(70.0, 10.0);
  calib.center = cv::Point2d(70.0, 10.0);
  const cv::Mat grey(40, 100, CV_8UC1, cv::Scalar(0));
  expectOverlay(calib.calibrationOverlay(grey), cv::Vec3b(0, 0, 0), 50, 20,
                {{20.0, 10.0, 5.0, kBlue}, {70.0, 10.0, 5.0, kRed}});
}

}  // namespace
}  // namespace plenoview
