#include "io/image_file_frames.h"

#include "base/plenoview_error.h"
#include "io/frame_source.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <memory>
#include <string>

namespace plenoview {
namespace {

// "" when the read succeeds, the message otherwise.
std::string refusal(FrameSource& frames, int index) {
  try {
    frames.read(index);
  } catch (const PlenoviewError& e) {
    return e.what();
  }
  return "";
}

// Frames 1 and 3 are 5 x 4, frame 2 is 6 x 4, frame 4 is text, frame 5
// empty, frame 0 is missing. The size every frame must have is the size of
// the first frame read, not of frame 0 and not of a frame that failed.
TEST(ImageFileFrames, HoldsEveryFrameToTheSizeOfTheFirstOneRead) {
  const std::string dir = testing::makeTestDir();
  const cv::Mat small(4, 5, CV_16UC3, cv::Scalar(1000, 2000, 3000));
  ASSERT_TRUE(cv::imwrite(dir + "/f1.png", small));
  ASSERT_TRUE(cv::imwrite(dir + "/f2.png", cv::Mat(4, 6, CV_8UC1, cv::Scalar(7))));
  ASSERT_TRUE(cv::imwrite(dir + "/f3.png", small));
  testing::writeTextFile(dir + "/f4.png", "not an image");
  testing::writeTextFile(dir + "/f5.png", "");

  const std::unique_ptr<FrameSource> frames = openFrameSource(dir + "/f%d.png");
  EXPECT_EQ(refusal(*frames, 0),
            "frame 0: cannot read \"" + dir + "/f0.png\" (missing, empty or not an image)");
  // Decoded as stored: 16 bits, three channels.
  EXPECT_TRUE(testing::sameImage(frames->read(1), small));
  EXPECT_EQ(refusal(*frames, 2),
            "frame 2: \"" + dir + "/f2.png\" is 6 x 4 pixels, but the first frame is 5 x 4");
  EXPECT_EQ(refusal(*frames, 3), "");
  EXPECT_EQ(refusal(*frames, 1), "");  // a frame may be read again
  EXPECT_EQ(refusal(*frames, 4),
            "frame 4: cannot read \"" + dir + "/f4.png\" (missing, empty or not an image)");
  EXPECT_EQ(refusal(*frames, 5),
            "frame 5: cannot read \"" + dir + "/f5.png\" (missing, empty or not an image)");

  // Another source starting at frame 2 takes 6 x 4 as its size.
  ImageFileFrames fromTwo(dir + "/f%d.png");
  EXPECT_EQ(refusal(fromTwo, 2), "");
  EXPECT_NE(refusal(fromTwo, 3).find("is 5 x 4 pixels, but the first frame is 6 x 4"),
            std::string::npos);
}

TEST(ImageFileFrames, FramesStillHeldKeepTheirPixelsWhenLaterOnesAreRead) {
  // Frame k has every sample k x 10 + 1. The source reuses the memory of
  // frames nobody holds: the three held here must keep their own, the one
  // let go may be reused, and every frame read is whole.
  const std::string dir = testing::makeTestDir();
  for (int k = 0; k < 5; ++k) {
    ASSERT_TRUE(cv::imwrite(dir + "/f" + std::to_string(k) + ".png",
                            cv::Mat(3, 4, CV_8UC3, cv::Scalar::all(k * 10 + 1))));
  }
  const std::unique_ptr<FrameSource> frames = openFrameSource(dir + "/f%d.png");
  const cv::Mat held0 = frames->read(0);
  frames->read(1);  // let go at once
  const cv::Mat held2 = frames->read(2);
  const cv::Mat held3 = frames->read(3);
  const cv::Mat last = frames->read(4);
  const cv::Mat* const all[] = {&held0, &held2, &held3, &last};
  const int values[] = {1, 21, 31, 41};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(testing::sameImage(*all[i], cv::Mat(3, 4, CV_8UC3, cv::Scalar::all(values[i]))))
        << "value " << values[i];
  }
}

}  // namespace
}  // namespace plenoview
