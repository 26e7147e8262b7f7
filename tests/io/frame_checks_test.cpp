#include "io/frame_checks.h"

#include "base/plenoview_error.h"
#include "tests/io/image_bytes.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace plenoview {
namespace {

using testing::Bytes;
using testing::encode;
using testing::pattern;
using testing::pngWithHeader;

// "" when accepted, the message otherwise.
std::string fileRefusal(const std::string& path) {
  try {
    checkFrameFile(path, 4);
  } catch (const PlenoviewError& e) {
    return e.what();
  }
  return "";
}

TEST(CheckFrameFile, RefusesBeforeDecodingWhatCannotBeAFrame) {
  const std::string dir = testing::makeTestDir();
  const auto file = [&](const std::string& name, const Bytes& bytes) {
    testing::writeTextFile(dir + "/" + name, bytes);
    return dir + "/" + name;
  };
  std::filesystem::create_directory(dir + "/folder.png");
  const Bytes sound = encode(".png", pattern(7, 30, CV_8UC1));
  const struct {
    std::string path;
    std::string message;  // "" when accepted
  } cases[] = {
      {file("sound.png", sound), ""},
      // 65535 x 4096 = 268431360 pixels, just under 2^28.
      {file("largest.png", pngWithHeader(65535, 4096)), ""},
      {file("wide.png", pngWithHeader(65536, 1)),
       "frame 4: \"" + dir +
           "/wide.png\" is 65536 x 1 pixels; frames may have at most 65535 per "
           "side and 268435456 (2^28) in all"},
      // 16385 x 16384 = 2^28 + 16384.
      {file("many.png", pngWithHeader(16385, 16384)), "many.png\" is 16385 x 16384 pixels"},
      {file("huge.pgm", "P5 100000 100000 255\n"), "huge.pgm\" is 100000 x 100000 pixels"},
      {file("huge.bmp",
            [&] {
              Bytes bmp = encode(".bmp", pattern(2, 3, CV_8UC1));
              return bmp.replace(18, 4, "\x40\x0D\x03\0", 4);  // 200000 wide
            }()),
       "huge.bmp\" is 200000 x 2 pixels"},
      {file("zero.pgm", "P5 0 2 255\n"), "zero.pgm\" has a size of 0 x 2 in its PNM header"},
      {file("cut.png", sound.substr(0, 50)), "frame 4: \"" + dir + "/cut.png\" is truncated"},
      {file("text.png", "not an image"), ""},  // left to the decoder
      {dir + "/missing.png", ""},              // left to the decoder
      {dir + "/folder.png", "folder.png\" is not a regular file"},
      {"/dev/zero", "frame 4: \"/dev/zero\" is not a regular file"},
      {file("scan.dcm", Bytes(128, '\0') + "DICM" + Bytes(16, '\x02')),
       "scan.dcm\" is a DICOM file, which plenoview does not read"},
      // A PNG that happens to hold "DICM" at 128 is still a PNG.
      {file("dicm.png", sound.substr(0, 128) + "DICM" + sound.substr(132)),
       "dicm.png\" is corrupt"},
  };
  for (const auto& c : cases) {
    const std::string message = fileRefusal(c.path);
    if (c.message.empty()) {
      EXPECT_EQ(message, "") << c.path;
    } else {
      EXPECT_NE(message.find(c.message), std::string::npos) << c.path << ": " << message;
    }
  }
}

TEST(CheckFrameImage, RefusesAFrameOfAnotherSizeThanTheFirst) {
  const cv::Mat frame(99, 200, CV_8UC1);
  EXPECT_NO_THROW(checkFrameImage(frame, "f.png", 0, cv::Size()));
  EXPECT_NO_THROW(checkFrameImage(frame, "f.png", 3, cv::Size(200, 99)));
  try {
    checkFrameImage(frame, "f003.png", 3, cv::Size(200, 100));
    ADD_FAILURE() << "accepted";
  } catch (const PlenoviewError& e) {
    EXPECT_STREQ(e.what(),
                 "frame 3: \"f003.png\" is 200 x 99 pixels, but the first frame is 200 x 100");
  }
}

}  // namespace
}  // namespace plenoview
