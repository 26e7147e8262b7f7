// Walks bad inputs of every kind (arguments, patterns, calibration files,
// frames, output folders) through the real binary. Each must end in exactly
// one "plenoview: " line naming the thing at fault and a non-zero status, with
// nothing on stdout but the program's own lines (none at all for a usage
// error, no frame counter when the frame loop was not reached), no view
// written for the failed frame, and no sanitizer report.
#include "driver/command_line.h"
#include "tests/e2e/process_harness.h"
#include "tests/io/image_bytes.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::writeTextFile;

const cv::Mat kFrame(100, 200, CV_8UC1, cv::Scalar(60));

// A command line: the words of a text split at blanks, or a list where a
// word is empty.
struct Args {
  Args(const char* text) : Args(std::string(text)) {}
  Args(const std::string& text) {
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word);
  }
  Args(std::initializer_list<std::string> list) : words(list) {}
  std::vector<std::string> words;
};

struct BadInput {
  using Prepare = std::function<void(const std::string& dir)>;
  BadInput(const char* name, Prepare prepare, Args args, int status, std::string names,
           int framesSaved = 0, bool decoderNoise = false, std::string cdTo = "")
      : name(name),
        prepare(std::move(prepare)),
        args(std::move(args.words)),
        status(status),
        names(std::move(names)),
        framesSaved(framesSaved),
        decoderNoise(decoderNoise),
        cdTo(std::move(cdTo)) {}

  const char* name;
  Prepare prepare;                // writes what the case needs beyond calib.xml, frame000/001.png
  std::vector<std::string> args;  // after --no-window; run in the case's folder
  int status;                     // expected exit status
  std::string names;              // the error line must contain this
  int framesSaved;                // frames fully written before the failure
  bool decoderNoise;              // the image library may print a line of its own
  std::string cdTo;               // working directory when not the case's folder
};

// Test names and listings show the case's name, not its bytes.
void PrintTo(const BadInput& c, std::ostream* out) { *out << c.name; }

using Prepare = BadInput::Prepare;

void nothing(const std::string&) {}

Prepare file(const std::string& name, const std::string& text) {
  return [=](const std::string& dir) { writeTextFile(dir + "/" + name, text); };
}

Prepare folder(const std::string& name) {
  return [=](const std::string& dir) { fs::create_directories(dir + "/" + name); };
}

// An image of `rows` x `cols` of `type`, made only when the case runs.
Prepare image(const std::string& name, int rows, int cols, int type) {
  return [=](const std::string& dir) {
    writeTextFile(dir + "/" + name,
                  testing::encode(fs::path(name).extension().string(),
                                  cv::Mat(rows, cols, type, cv::Scalar(9, 8, 7))));
  };
}

// A run on the calibration file c.xml holding `xml`.
BadInput badCalibration(const char* name, const std::string& xml, std::string names) {
  return {name, file("c.xml", xml), "c.xml frame%03d.png 1 1", 1, std::move(names)};
}

// A run on the one frame of `imagePath` (options may come before it), which
// `prepare` writes.
BadInput badFrame(const char* name, Prepare prepare, const std::string& imagePath,
                  std::string names, bool decoderNoise = false) {
  return {name, std::move(prepare), "calib.xml " + imagePath + " 1 1", 1, std::move(names),
          0,    decoderNoise};
}

// `count` frames of a raw 200 x 100 I420 video: Y 60, neutral chroma.
std::string rawFrames(int count) {
  std::string frame(200 * 100, static_cast<char>(60));
  frame += std::string(2 * 100 * 50, static_cast<char>(128));
  std::string bytes;
  for (int k = 0; k < count; ++k) bytes += frame;
  return bytes;
}

// "<RayCalibData><e><e>... 140000 deep: enough to overflow the stack of a
// recursive parser, still under the 1 MiB file limit.
std::string deeplyNested() {
  std::string text = "<RayCalibData>";
  for (int i = 0; i < 140000; ++i) text += "<e>";
  for (int i = 0; i < 140000; ++i) text += "</e>";
  return text + "</RayCalibData>";
}

// The values of each check are walked by the unit tables (tests/driver,
// tests/calibration, tests/io); here one case per family of errors shows
// that its refusal reaches the user as one line with its status.
std::vector<BadInput> badInputs() {
  using testing::CalibrationXml;
  using testing::lensTypeXml;
  const testing::Bytes png = testing::encode(".png", kFrame);
  // The frame's PNG with a byte of its compressed data flipped and the CRC
  // made right again: only the decoder can tell.
  testing::Bytes badData = png;
  std::uint32_t length = 0;  // of the first chunk after IHDR, IDAT, at byte 33
  for (int i = 33; i < 37; ++i) length = length << 8 | static_cast<uchar>(badData[i]);
  badData[33 + 8 + 2] ^= 0x55;
  testing::putBigEndian(badData, 33 + 8 + length, testing::crc(badData.substr(37, 4 + length)));
  return {
      // ---- command line: status 2, usage follows the line ----
      {"argument_count", nothing, "", 2,
       "expected 4 arguments (CalibPath ImagePath ImageNum ViewNum), got 0"},
      {"number", nothing, "calib.xml frame%03d.png abc 1", 2,
       "ImageNum must be a whole decimal number, not \"abc\""},
      {"pattern", nothing, "calib.xml frame%s.png 1 1", 2,
       "ImagePath \"frame%s.png\": conversion '%s' is not allowed"},
      {"option_value", nothing, "--output-format mp4 calib.xml frame%03d.png 1 1", 2,
       "--output-format must be png, yuv or y4m, not \"mp4\""},

      // ---- calibration files: status 1 ----
      {"calibration_device", nothing, "/dev/zero frame%03d.png 1 1", 1,
       "calibration file \"/dev/zero\" is not a regular file"},
      badCalibration("calibration_nested_deep", deeplyNested(),
                     "\"c.xml\": elements nest 140001 deep, more than the 64 allowed"),
      badCalibration("calibration_cut", CalibrationXml().text().substr(0, 40),
                     "is not well-formed XML"),
      badCalibration("calibration_no_diameter", CalibrationXml().drop("diameter"),
                     "\"c.xml\": RayCalibData.diameter is missing"),
      badCalibration("calibration_not_a_number", CalibrationXml().set("diameter", "nan"),
                     "RayCalibData.diameter: \"nan\" is not a number"),
      badCalibration("calibration_out_of_range", CalibrationXml().set("rotation", "3.1416"),
                     "RayCalibData.rotation 3.1416 is outside [-3.14159, 3.14159]"),
      badCalibration("calibration_lens_id", CalibrationXml().lensTypes(lensTypeXml("3", "0", "0")),
                     "RayCalibData.lens_type #1 attribute id 3 is not a lens type"),
      badCalibration(
          "calibration_centre", CalibrationXml().set("offset.y", "45"),
          "RayCalibData.offset.y puts the grid centre at y 5, closer than a radius (10)"),
      {"calibration_frame_too_narrow", image("narrow.png", 100, 79, CV_8UC1),
       "calib.xml narrow.png 1 1", 1, "a 79 x 100 frame holds no whole row of three lenses"},
      // All three types 4.5 diameters left of a 90-pixel frame's centre:
      // their reference lens lies at x -45, and the views would be -25 pixels wide.
      {"views_of_no_pixels",
       [](const std::string& dir) {
         writeTextFile(dir + "/c.xml", CalibrationXml().lensTypes(lensTypeXml("0", "4.5", "0") +
                                                                  lensTypeXml("1", "4.5", "0") +
                                                                  lensTypeXml("2", "4.5", "0")));
         image("f.png", 100, 90, CV_8UC1)(dir);
       },
       "c.xml f.png 1 1", 1, "gives views of -25 x 66 pixels"},
      // 6-pixel lenses and 99 x 99 views of a 3000 x 3000 colour frame:
      // views of about 1070 x 1060 pixels, some 124 GiB for one frame, more
      // than any machine is allowed.
      {"memory_budget",
       [](const std::string& dir) {
         writeTextFile(dir + "/c.xml", CalibrationXml().set("diameter", "6"));
         image("big.png", 3000, 3000, CV_8UC3)(dir);
       },
       "c.xml big.png 1 99", 1, "with ViewNum 99 and a 3000 x 3000 frame would need about"},
      // --all-scale-levels builds every level whole, which the plan must count:
      // 257-pixel lenses on a 1400 x 1000 colour frame scale it by 257 / s for
      // s = 3 .. 257, some 1400 x 1000 x 4 x (257^2 x 0.39) bytes, about 135
      // GiB, where the levels computed window by window take a few MB.
      {"memory_budget_all_scale_levels",
       [](const std::string& dir) {
         writeTextFile(dir + "/c.xml", CalibrationXml().set("diameter", "257"));
         image("wide.png", 1000, 1400, CV_8UC3)(dir);
       },
       "--all-scale-levels c.xml wide.png 1 1", 1,
       "with ViewNum 1 and a 1400 x 1000 frame would need about"},
      // Diameter 40 on the 200 x 100 frame: one lens row (30 / (20 sqrt 3)
      // truncates to 0 above and below the centre row) and one lens per type.
      // The types sit at x 100, 60, 20 and y 50, so type 0 is the right type and
      // type 1 the middle one. The views are floor(100 + 40) = 140 wide and
      // floor(50 + 40) = 90 high; (90 - 2 x 50) x 0.125 truncates to -1: no rows.
      badCalibration(
          "views_crop_to_nothing", CalibrationXml().set("diameter", "40"),
          "plenoview: calibration: the views of 140 x 90 pixels leave nothing to crop: the first "
          "lens of the middle lens type (lens_type id 1) lies at (60, 50) with "
          "RayCalibData.diameter 40; check the diameter and the lens_type offsets"),

      // ---- frames: status 1 ----
      badFrame("frame_missing", nothing, "missing%03d.png",
               "frame 0: cannot read \"missing000.png\" (missing, empty or not an image)"),
      badFrame("frame_device", nothing, "/dev/zero",
               "frame 0: \"/dev/zero\" is not a regular file"),
      badFrame("frame_truncated", file("cut.png", png.substr(0, png.size() / 2)), "cut.png",
               "frame 0: \"cut.png\" is truncated"),
      badFrame("frame_too_large", file("huge.png", testing::pngWithHeader(30000, 30000)),
               "huge.png",
               "frame 0: \"huge.png\" is 30000 x 30000 pixels; frames may have at most 65535 per "
               "side"),
      // The decoder refuses, and says so in a line of its own first.
      badFrame("png_bad_compressed_data", file("bad.png", badData), "bad.png",
               "frame 0: cannot read \"bad.png\"", true),
      // 133 bytes that the DICOM decoder takes for its own and aborts on.
      badFrame("frame_crafted_dicom", file("scan.dcm", "P33M" + std::string(123, '0') + "1DICM0"),
               "scan.dcm", "frame 0: \"scan.dcm\" is a DICOM file, which plenoview does not read"),
      {"frame_2_missing", nothing, "calib.xml frame%03d.png 3 1", 1,
       "frame 2: cannot read \"frame002.png\"", 2},
      {"frame_1_other_size", image("frame001.png", 99, 200, CV_8UC1), "calib.xml frame%03d.png 2 1",
       1, "frame 1: \"frame001.png\" is 200 x 99 pixels, but the first frame is 200 x 100", 1},
      {"frame_1_truncated", file("frame001.png", png.substr(0, 60)), "calib.xml frame%03d.png 2 2",
       1, "frame 1: \"frame001.png\" is truncated", 1},

      // ---- lenslet video: status 1 ----
      badFrame("video_no_size", file("seq.yuv", rawFrames(2)), "seq.yuv",
               "\"seq.yuv\": a raw video needs its frame size: give --size WxH"),
      badFrame("video_size_malformed", file("seq.yuv", rawFrames(2)), "--size 200x seq.yuv",
               "--size \"200x\" is not a frame size WIDTHxHEIGHT"),
      badFrame("video_size_odd", file("seq.yuv", rawFrames(2)), "--size 199x100 seq.yuv",
               "\"seq.yuv\": the frame size 199 x 100 is odd"),
      badFrame("video_size_zero", file("seq_0x100_.yuv", ""), "seq_0x100_.yuv",
               "\"seq_0x100_.yuv\": the frame size 0 x 100 is empty"),
      badFrame("video_size_huge", file("seq.yuv", rawFrames(2)), "--size 65536x65536 seq.yuv",
               "\"seq.yuv\": the frame size 65536 x 65536 is beyond the limits"),
      badFrame(
          "video_not_whole_frames", file("seq_200x100_.yuv", rawFrames(2) + "12345"),
          "seq_200x100_.yuv",
          "\"seq_200x100_.yuv\" holds 60005 bytes, which is not a whole number of frames of 30000 "
          "bytes"),
      {"video_past_the_end", file("seq_200x100_.yuv", rawFrames(2)),
       "calib.xml seq_200x100_.yuv 3 1", 1,
       "frames 0 .. 2 go past the end of \"seq_200x100_.yuv\", which holds 2 frames (0 .. 1)"},
      badFrame("video_stdin_empty", nothing, "--size 200x100 -",
               "frame 0: standard input ends before this frame, after no frame"),
      badFrame("y4m_chroma_444",
               file("seq.y4m", "YUV4MPEG2 W200 H100 C444\nFRAME\n" + rawFrames(2)), "seq.y4m",
               "the chroma format \"C444\" is not supported"),
      badFrame("y4m_header_without_end",
               file("seq.y4m", "YUV4MPEG2 W200 H100 " + std::string(5000, 'X')), "seq.y4m",
               "Y4M header: no end of line within the first 4096 bytes"),
      badFrame("y4m_huge_size", file("seq.y4m", "YUV4MPEG2 W65536 H2\n"), "seq.y4m",
               "the frame size 65536 x 2 is beyond the limits"),
      badFrame("y4m_odd_field", file("seq.y4m", "YUV4MPEG2 W200 H100 F30\n"), "seq.y4m",
               "the frame rate \"F30\" is not of the form F<num>:<den>"),
      badFrame("y4m_bad_frame_marker",
               file("seq.y4m",
                    "YUV4MPEG2 W200 H100\nFRAME\n" + rawFrames(1) + "FRAMEX\n" + rawFrames(1)),
               "seq.y4m", "\"seq.y4m\": frame 1 does not start with a FRAME marker"),
      {"view_video_name_taken_by_folder", folder("Result/Result_c0000.y4m"),
       "--output-format y4m calib.xml frame%03d.png 1 1", 1,
       "cannot write the view \"./Result/Result_c0000.y4m\""},

      // ---- output: status 1 ----
      {"result_is_a_file", file("Result", "not a folder"), "calib.xml frame%03d.png 1 1", 1,
       "cannot create the output folder \"./Result\""},
      {"result_links_to_device",
       [](const std::string& dir) { fs::create_symlink("/dev/full", dir + "/Result"); },
       "calib.xml frame%03d.png 1 1", 1, "cannot create the output folder \"./Result\""},
      {"view_name_taken_by_folder", folder("Result/Result_f0000_c0000.png"),
       "calib.xml frame%03d.png 1 2", 1, "Result_f0000_c0000.png"},
      {"output_dir_read_only", nothing, "--output-dir /proc calib.xml frame%03d.png 1 1", 1,
       "cannot create the output folder \"/proc/Result\""},
      {"output_dir_is_a_file", file("out", "a file"),
       "--output-dir out calib.xml frame%03d.png 1 1", 1,
       "cannot create the output folder \"out/Result\""},
      {"read_only_working_directory",
       [](const std::string&) {},
       {},
       1,
       "cannot create the output folder \"./Result\"",
       0,
       false,
       "/proc"},
      {"view_file_links_to_full_device",
       [](const std::string& dir) {
         fs::create_directory(dir + "/Result");
         fs::create_symlink("/dev/full", dir + "/Result/Result_f0000_c0000.png");
       },
       "calib.xml frame%03d.png 1 1", 1,
       "cannot write the view \"./Result/Result_f0000_c0000.png\""},
  };
}

// Lines the program itself may put on stdout.
bool isOwnLine(const std::string& line) {
  static const char* const kPrefixes[] = {
      "CalibPath: ", "ImagePath: ", "ImageNum: ", "ViewNum: ", "Out of Roi Range: ", "diameter: ",
      "rotation: ",  "num: ",       "center: ",   "offset[",   "subGridRefPos["};
  if (line == "==========MicroLens Parameter==========" ||
      line == "=======================================") {
    return true;
  }
  for (const char* prefix : kPrefixes) {
    if (line.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// "" when stdout holds only the program's lines and counters, otherwise the
// first text that is not.
std::string foreignOutput(const std::string& out) {
  size_t i = 0;
  while (i < out.size()) {
    if (out.compare(i, 9, "frameCnt:") == 0) {
      size_t j = i + 9;
      while (j < out.size() && out[j] >= '0' && out[j] <= '9') ++j;
      if (j - (i + 9) < 4 || j >= out.size() || out[j] != '\r') return out.substr(i);
      i = j + 1;
      continue;
    }
    const size_t end = out.find('\n', i);
    if (end == std::string::npos) return out.substr(i);
    const std::string line = out.substr(i, end - i);
    if (!isOwnLine(line)) return line;
    i = end + 1;
  }
  return "";
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    const size_t end = text.find('\n', i);
    lines.push_back(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
    if (end == std::string::npos) break;
    i = end + 1;
  }
  return lines;
}

int viewFilesIn(const std::string& dir) {
  int count = 0;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir + "/Result", error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".png") ++count;
  }
  return count;
}

class BadInputMatrix : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputMatrix, EndsInOneClearLine) {
  const BadInput& c = GetParam();
  const std::string dir = testing::makeTestDir();
  writeTextFile(dir + "/calib.xml", testing::CalibrationXml());
  cv::imwrite(dir + "/frame000.png", kFrame);
  cv::imwrite(dir + "/frame001.png", kFrame);
  c.prepare(dir);

  std::vector<std::string> args = {"--no-window"};
  if (c.cdTo.empty()) {
    args.insert(args.end(), c.args.begin(), c.args.end());
  } else {
    // Absolute paths, since the run happens elsewhere.
    args.insert(args.end(), {dir + "/calib.xml", dir + "/frame%03d.png", "1", "1"});
  }
  const testing::ProcessResult run = testing::runPlenoview(args, c.cdTo.empty() ? dir : c.cdTo);

  EXPECT_EQ(run.exitStatus, c.status) << run.err;
  for (const char* report : {"runtime error", "AddressSanitizer", "LeakSanitizer"}) {
    EXPECT_EQ(run.err.find(report), std::string::npos) << run.err;
  }
  // Exactly one line of ours; a usage error is followed by the usage.
  std::string ours = run.err;
  if (c.status == 2) {
    const size_t usage = run.err.find(kUsage);
    EXPECT_NE(usage, std::string::npos) << run.err;
    EXPECT_EQ(usage + std::string(kUsage).size(), run.err.size()) << run.err;
    ours = run.err.substr(0, usage);
  }
  std::vector<std::string> lines = linesOf(ours);
  // A run that reached the frame loop closes with its summary, after ours;
  // one that did not has done no frame, and a usage error prints nothing.
  const bool loopReached = !lines.empty() && lines.back().rfind("summary: ", 0) == 0;
  if (loopReached) {
    EXPECT_NE(lines.back().find(", 1 failed in "), std::string::npos) << lines.back();
    lines.pop_back();
  } else {
    EXPECT_EQ(run.out.find("frameCnt"), std::string::npos) << run.out;
  }
  if (c.status == 2) {
    EXPECT_EQ(run.out, "");
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(ours.back(), '\n');
  // The image library may have spoken first, never with our prefix.
  if (c.decoderNoise) {
    for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_NE(lines[i].rfind("plenoview: ", 0), 0u);
    lines.erase(lines.begin(), lines.end() - 1);
  }
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind("plenoview: ", 0), 0u) << run.err;
  EXPECT_NE(lines[0].find(c.names), std::string::npos) << lines[0];

  EXPECT_EQ(foreignOutput(run.out), "") << run.out;
  // Views of the frames before the failure only: N x N files each.
  const int N = c.args.empty() ? 1 : std::atoi(c.args.back().c_str());
  EXPECT_EQ(viewFilesIn(dir), c.framesSaved * N * N);
}

// Values at the very edge of the limits are accepted and run to the end:
// every view written, nothing on stderr but the closing summary (in the
// sanitizer build: no report of undefined behaviour either).
TEST(ExtremeButAcceptedInput, RunsToTheEnd) {
  using testing::CalibrationXml;
  using testing::lensTypeXml;
  const struct {
    const char* what;
    std::string calibration;
  } cases[] = {
      {"rotation just under half a turn", CalibrationXml().set("rotation", "3.14159")},
      {"rotation just under minus half a turn", CalibrationXml().set("rotation", "-3.14159")},
      {"centre on the left edge", CalibrationXml().set("offset.x", "-100")},
      {"centre on the right edge", CalibrationXml().set("offset.x", "100")},
      {"centre a radius below the top", CalibrationXml().set("offset.y", "40")},
      {"centre on the bottom edge", CalibrationXml().set("offset.y", "-50")},
      {"lens types 1000 diameters away",
       CalibrationXml().lensTypes(lensTypeXml("0", "1000", "-1000") +
                                  lensTypeXml("1", "-1000", "0") + lensTypeXml("2", "0", "1000"))},
      {"smallest lenses", CalibrationXml()
                              .set("diameter", "6")
                              .set("rotation", "0.9")
                              .set("offset.x", "3")
                              .set("offset.y", "-2")},
      {"all lens types alike",
       CalibrationXml()
           .set("diameter", "20.999")
           .set("offset.x", "0.5")
           .set("offset.y", "0.5")
           .lensTypes(lensTypeXml("0", "0", "0") + lensTypeXml("1", "0", "0"))},
  };
  const std::string dir = testing::makeTestDir();
  cv::Mat colour(100, 200, CV_8UC3);
  cv::RNG(7).fill(colour, cv::RNG::UNIFORM, 0, 256);
  cv::imwrite(dir + "/frame000.png", colour);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir + "/Result");
    writeTextFile(dir + "/calib.xml", c.calibration);
    const testing::ProcessResult run =
        testing::runPlenoview({"--no-window", "calib.xml", "frame%03d.png", "1", "4"}, dir);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err.rfind("summary: 1 frame done, 0 skipped, 0 failed in ", 0), 0u) << run.err;
    EXPECT_EQ(linesOf(run.err).size(), 1u) << run.err;
    EXPECT_EQ(foreignOutput(run.out), "");
    EXPECT_EQ(viewFilesIn(dir), 16);
  }
}

// A full disk: a file system of one 4 KiB page holds the first view of the
// frame and no more. Mounting needs privileges; without them the test is
// skipped.
TEST(BadOutput, AFullFileSystemEndsTheRunWithOneLine) {
  const std::string dir = testing::makeTestDir();
  const std::string disk = dir + "/disk";
  fs::create_directories(disk);
  writeTextFile(dir + "/calib.xml", testing::CalibrationXml());
  cv::imwrite(dir + "/frame000.png", kFrame);
  if (testing::runProcess({"mount", "-t", "tmpfs", "-o", "size=4k", "tmpfs", disk}).exitStatus !=
      0) {
    GTEST_SKIP() << "cannot mount a small file system here";
  }
  const testing::ProcessResult run = testing::runPlenoview(
      {"--no-window", dir + "/calib.xml", dir + "/frame%03d.png", "1", "3"}, disk);
  const int written = viewFilesIn(disk);
  testing::runProcess({"umount", disk});

  EXPECT_EQ(run.exitStatus, 1);
  const std::vector<std::string> lines = linesOf(run.err);
  ASSERT_EQ(lines.size(), 2u) << run.err;
  EXPECT_EQ(lines[1].rfind("summary: 0 frames done, 0 skipped, 1 failed in ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[0].rfind("plenoview: cannot write the view \"./Result/Result_f0000_c", 0), 0u)
      << lines[0];
  // Nothing that looks like a result stays behind for the failed frame.
  EXPECT_EQ(written, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputMatrix, ::testing::ValuesIn(badInputs()),
                         testing::CaseName());

}  // namespace
}  // namespace plenoview
