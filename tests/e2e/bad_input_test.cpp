// Walks bad inputs of every kind (arguments, patterns, calibration files,
// frames, output folders) through the real binary. Each must end in exactly
// one "plenoview: " line naming the thing at fault and a non-zero status, with
// nothing on stdout but the program's own lines (none at all for a usage
// error, no frame counter when the frame loop was not reached), no view
// written for the failed frame, and no sanitizer report.
#include "driver/command_line.h"
#include "tests/e2e/process_harness.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace plenoview {
namespace {

namespace fs = std::filesystem;
using testing::writeTextFile;

// The worked example with its values replaced.
std::string calibration(const std::string& diameter, const std::string& rotation = "0",
                        const std::string& offsetX = "0", const std::string& offsetY = "0",
                        const std::string& lensTypes =
                            "<lens_type id=\"0\"><offset><x>0</x><y>0</y></offset></lens_type>"
                            "<lens_type id=\"1\"><offset><x>1</x><y>0</y></offset></lens_type>"
                            "<lens_type id=\"2\"><offset><x>2</x><y>0</y></offset></lens_type>") {
  return "<RayCalibData><diameter>" + diameter + "</diameter><rotation>" + rotation +
         "</rotation><offset><x>" + offsetX + "</x><y>" + offsetY + "</y></offset>" + lensTypes +
         "</RayCalibData>\n";
}

std::string lensType(const std::string& id, const std::string& x, const std::string& y) {
  return "<lens_type id=\"" + id + "\"><offset><x>" + x + "</x><y>" + y +
         "</y></offset></lens_type>";
}

void writeBytes(const std::string& path, const std::vector<uchar>& bytes) {
  writeTextFile(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<uchar> encode(const std::string& extension, const cv::Mat& image) {
  std::vector<uchar> bytes;
  cv::imencode(extension, image, bytes);
  return bytes;
}

const cv::Mat kFrame(100, 200, CV_8UC1, cv::Scalar(60));

void putBigEndian(std::vector<uchar>& bytes, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uchar>(value >> (24 - 8 * i));
}

// The frame's PNG with the width and height of its header rewritten (the
// pixel data stays that of 200 x 100).
std::vector<uchar> pngClaiming(std::uint32_t width, std::uint32_t height) {
  std::vector<uchar> png = encode(".png", kFrame);
  putBigEndian(png, 16, width);
  putBigEndian(png, 20, height);
  putBigEndian(png, 29, testing::pngCrc32(png.data() + 12, 17));
  return png;
}

// A command line: the words of a text split at blanks, or a list where a
// word is empty.
struct Args {
  Args(const char* text) {
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

void nothing(const std::string&) {}

std::function<void(const std::string&)> file(const std::string& name, const std::string& text) {
  return [=](const std::string& dir) { writeTextFile(dir + "/" + name, text); };
}

std::function<void(const std::string&)> bytesFile(const std::string& name,
                                                  std::function<std::vector<uchar>()> bytes) {
  return [=](const std::string& dir) { writeBytes(dir + "/" + name, bytes()); };
}

std::function<void(const std::string&)> folder(const std::string& name) {
  return [=](const std::string& dir) { fs::create_directories(dir + "/" + name); };
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

const std::string kSizeText = "frames may have at most 65535 per side";

std::vector<BadInput> badInputs() {
  return {
      // ---- command line: status 2, usage follows the line ----
      {"no_arguments", nothing, "", 2,
       "expected 4 arguments (CalibPath ImagePath ImageNum ViewNum), got 0"},
      {"three_arguments", nothing, "calib.xml frame%03d.png 1", 2, "got 3"},
      {"five_arguments", nothing, "calib.xml frame%03d.png 1 1 1", 2, "got 5"},
      {"unknown_option", nothing, "--fast calib.xml frame%03d.png 1 1", 2,
       "unknown option \"--fast\""},
      {"image_num_text", nothing, "calib.xml frame%03d.png abc 1", 2,
       "ImageNum must be a whole decimal number, not \"abc\""},
      {"image_num_fraction", nothing, "calib.xml frame%03d.png 1.5 1", 2,
       "ImageNum must be a whole"},
      {"image_num_overflow", nothing, "calib.xml frame%03d.png 99999999999 1", 2,
       "ImageNum \"99999999999\" is out of range"},
      {"view_num_zero", nothing, "calib.xml frame%03d.png 1 0", 2,
       "ViewNum must be at least 1, not \"0\""},
      {"view_num_negative", nothing, "calib.xml frame%03d.png 1 -3", 2,
       "ViewNum must be at least 1"},
      {"view_num_100", nothing, "calib.xml frame%03d.png 1 100", 2,
       "ViewNum must be at most 99, not \"100\""},
      {"view_num_int_overflow", nothing, "calib.xml frame%03d.png 1 2147483648", 2,
       "ViewNum \"2147483648\" is out of range"},
      {"view_num_empty",
       nothing,
       {"calib.xml", "frame%03d.png", "1", ""},
       2,
       "ViewNum must be a whole decimal"},
      {"pattern_string", nothing, "calib.xml frame%s.png 1 1", 2,
       "ImagePath \"frame%s.png\": conversion '%s' is not allowed"},
      {"pattern_two_ints", nothing, "calib.xml %d_%d.png 1 1", 2, "has more than one conversion"},
      {"pattern_store", nothing, "calib.xml f%n.png 1 1", 2, "conversion '%n' is not allowed"},
      {"pattern_star_width", nothing, "calib.xml f%*d.png 1 1", 2,
       "conversion '%*' is not allowed"},
      {"pattern_long", nothing, "calib.xml f%ld.png 1 1", 2, "conversion '%l' is not allowed"},
      {"pattern_wide_field", nothing, "calib.xml f%300d.png 1 1", 2,
       "field width or precision above 255"},
      {"first_frame_negative", nothing, "--first-frame -1 calib.xml frame%03d.png 1 1", 2,
       "--first-frame must be at least 0, not \"-1\""},
      {"output_dir_empty",
       nothing,
       {"--output-dir", "", "calib.xml", "frame%03d.png", "1", "1"},
       2,
       "--output-dir"},
      {"pattern_trailing_percent", nothing, "calib.xml frame% 1 1", 2,
       "ends in an incomplete % conversion"},

      // ---- calibration files: status 1 ----
      {"calibration_missing", nothing, "nothere.xml frame%03d.png 1 1", 1,
       "calibration file \"nothere.xml\" cannot be opened"},
      {"calibration_folder", folder("cal.xml"), "cal.xml frame%03d.png 1 1", 1,
       "calibration file \"cal.xml\" is not a regular file"},
      {"calibration_device", nothing, "/dev/zero frame%03d.png 1 1", 1,
       "calibration file \"/dev/zero\" is not a regular file"},
      {"calibration_empty", file("c.xml", ""), "c.xml frame%03d.png 1 1", 1,
       "\"c.xml\": RayCalibData is missing"},
      {"calibration_binary", nothing, "frame000.png frame%03d.png 1 1", 1,
       "\"frame000.png\" is not well-formed XML"},
      {"calibration_cut", file("c.xml", calibration("20").substr(0, 40)), "c.xml frame%03d.png 1 1",
       1, "is not well-formed XML"},
      {"calibration_other_root", file("c.xml", "<Other/>"), "c.xml frame%03d.png 1 1", 1,
       "\"c.xml\": RayCalibData is missing"},
      {"calibration_no_diameter",
       file("c.xml", "<RayCalibData><rotation>0</rotation></RayCalibData>"),
       "c.xml frame%03d.png 1 1", 1, "RayCalibData.diameter is missing"},
      {"diameter_nan", file("c.xml", calibration("nan")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter: \"nan\" is not a number"},
      {"diameter_inf", file("c.xml", calibration("inf")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter: \"inf\" is not a number"},
      {"diameter_beyond_double", file("c.xml", calibration("1e400")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter: \"1e400\" is not a number"},
      {"diameter_1e300", file("c.xml", calibration("1e300")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter 1e+300 is outside the supported range [6, 258)"},
      {"diameter_negative", file("c.xml", calibration("-20")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter -20 is outside"},
      {"diameter_zero", file("c.xml", calibration("0")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter 0 is outside"},
      {"diameter_below_6", file("c.xml", calibration("5.99")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter 5.99 is outside"},
      {"diameter_258", file("c.xml", calibration("258")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.diameter 258 is outside"},
      {"rotation_1e300", file("c.xml", calibration("20", "1e300")), "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.rotation 1e+300 is outside [-3.14159, 3.14159]"},
      {"rotation_over_half_turn", file("c.xml", calibration("20", "3.1416")),
       "c.xml frame%03d.png 1 1", 1, "RayCalibData.rotation 3.1416 is outside"},
      {"rotation_beyond_double", file("c.xml", calibration("20", "-1e400")),
       "c.xml frame%03d.png 1 1", 1, "RayCalibData.rotation: \"-1e400\" is not a number"},
      {"centre_x_1e300", file("c.xml", calibration("20", "0", "1e300")), "c.xml frame%03d.png 1 1",
       1,
       "RayCalibData.offset.x puts the grid centre at x 1e+300, outside the 200-pixel-wide frame"},
      {"centre_right_of_frame", file("c.xml", calibration("20", "0", "100.5")),
       "c.xml frame%03d.png 1 1", 1, "RayCalibData.offset.x puts the grid centre at x 200.5"},
      {"centre_near_top", file("c.xml", calibration("20", "0", "0", "45")),
       "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.offset.y puts the grid centre at y 5, closer than a radius (10)"},
      {"centre_below_frame", file("c.xml", calibration("20", "0", "0", "-1e9")),
       "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.offset.y puts the grid centre at y 1e+09, below the 100-pixel-high frame"},
      {"lens_id_3", file("c.xml", calibration("20", "0", "0", "0", lensType("3", "0", "0"))),
       "c.xml frame%03d.png 1 1", 1, "RayCalibData.lens_type #1 attribute id 3 is not a lens type"},
      {"lens_id_negative",
       file("c.xml", calibration("20", "0", "0", "0", lensType("-1", "0", "0"))),
       "c.xml frame%03d.png 1 1", 1, "attribute id -1 is not a lens type"},
      {"lens_id_fraction",
       file("c.xml", calibration("20", "0", "0", "0", lensType("1.5", "0", "0"))),
       "c.xml frame%03d.png 1 1", 1, "attribute id: \"1.5\" is not a whole number"},
      {"lens_id_overflow",
       file("c.xml", calibration("20", "0", "0", "0", lensType("99999999999", "0", "0"))),
       "c.xml frame%03d.png 1 1", 1, "attribute id: \"99999999999\" is not a whole number"},
      {"lens_offset_beyond_float",
       file("c.xml", calibration("20", "0", "0", "0", lensType("0", "1e39", "0"))),
       "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.lens_type #1 offset.x: \"1e39\" is not a number"},
      {"lens_offset_far",
       file("c.xml", calibration("20", "0", "0", "0", lensType("0", "0", "1000.5"))),
       "c.xml frame%03d.png 1 1", 1,
       "RayCalibData.lens_type #1 offset.y 1000.5 is outside [-1000, 1000]"},
      {"calibration_nested_deep", file("c.xml", deeplyNested()), "c.xml frame%03d.png 1 1", 1,
       "\"c.xml\": elements nest 140001 deep, more than the 64 allowed"},
      {"calibration_over_1_mib",
       file("c.xml", "<!--" + std::string(1 << 20, '-') + "-->" + calibration("20")),
       "c.xml frame%03d.png 1 1", 1, "\"c.xml\" has 1048880 bytes, more than the 1048576"},
      {"frame_too_narrow_for_grid",
       bytesFile("narrow.png",
                 [] { return encode(".png", cv::Mat(100, 79, CV_8UC1, cv::Scalar(9))); }),
       "calib.xml narrow.png 1 1", 1, "a 79 x 100 frame holds no whole row of three lenses"},
      // All three types 4.5 diameters left of a 90-pixel frame's centre:
      // their reference lens lies at x -45, and the views would be -25 pixels wide.
      {"views_of_no_pixels",
       [](const std::string& dir) {
         writeTextFile(dir + "/c.xml",
                       calibration("20", "0", "0", "0",
                                   lensType("0", "4.5", "0") + lensType("1", "4.5", "0") +
                                       lensType("2", "4.5", "0")));
         writeBytes(dir + "/f.png", encode(".png", cv::Mat(100, 90, CV_8UC1, cv::Scalar(9))));
       },
       "c.xml f.png 1 1", 1, "gives views of -25 x 66 pixels"},
      // 6-pixel lenses and 99 x 99 views of a 3000 x 3000 colour frame:
      // views of about 1070 x 1060 pixels, some 124 GiB for one frame, more
      // than any machine is allowed.
      {"memory_budget",
       [](const std::string& dir) {
         writeTextFile(dir + "/c.xml", calibration("6"));
         writeBytes(dir + "/big.png",
                    encode(".png", cv::Mat(3000, 3000, CV_8UC3, cv::Scalar(9, 8, 7))));
       },
       "c.xml big.png 1 99", 1, "with ViewNum 99 and a 3000 x 3000 frame would need about"},
      // --all-scale-levels builds every level whole, which the plan must count:
      // 257-pixel lenses on a 1400 x 1000 colour frame scale it by 257 / s for
      // s = 3 .. 257, some 1400 x 1000 x 4 x (257^2 x 0.39) bytes, about 135
      // GiB, where the levels computed window by window take a few MB.
      {"memory_budget_all_scale_levels",
       [](const std::string& dir) {
         writeTextFile(dir + "/c.xml", calibration("257"));
         writeBytes(dir + "/wide.png",
                    encode(".png", cv::Mat(1000, 1400, CV_8UC3, cv::Scalar(9, 8, 7))));
       },
       "--all-scale-levels c.xml wide.png 1 1", 1,
       "with ViewNum 1 and a 1400 x 1000 frame would need about"},

      // ---- frames: status 1 ----
      {"frame_missing", nothing, "calib.xml missing%03d.png 1 1", 1,
       "frame 0: cannot read \"missing000.png\" (missing, empty or not an image)"},
      {"frame_text", file("text.png", "not an image at all"), "calib.xml text.png 1 1", 1,
       "frame 0: cannot read \"text.png\""},
      {"frame_empty_file", file("empty.png", ""), "calib.xml empty.png 1 1", 1,
       "frame 0: cannot read \"empty.png\""},
      {"frame_folder", folder("dir.png"), "calib.xml dir.png 1 1", 1,
       "frame 0: \"dir.png\" is not a regular file"},
      {"frame_device", nothing, "calib.xml /dev/zero 1 1", 1,
       "frame 0: \"/dev/zero\" is not a regular file"},
      {"png_truncated",
       bytesFile("cut.png",
                 [] {
                   auto b = encode(".png", kFrame);
                   b.resize(b.size() / 2);
                   return b;
                 }),
       "calib.xml cut.png 1 1", 1, "frame 0: \"cut.png\" is truncated"},
      {"png_without_end",
       bytesFile("noend.png",
                 [] {
                   auto b = encode(".png", kFrame);
                   b.resize(b.size() - 12);
                   return b;
                 }),
       "calib.xml noend.png 1 1", 1, "frame 0: \"noend.png\" is truncated (no IEND chunk)"},
      {"png_crc_error",
       bytesFile("crc.png",
                 [] {
                   auto b = encode(".png", kFrame);
                   b[b.size() - 18] ^= 1;
                   return b;
                 }),
       "calib.xml crc.png 1 1", 1, "frame 0: \"crc.png\" is corrupt (CRC error in a IDAT chunk)"},
      {"png_zero_width", bytesFile("zero.png", [] { return pngClaiming(0, 100); }),
       "calib.xml zero.png 1 1", 1, "frame 0: \"zero.png\" is corrupt (invalid IHDR chunk)"},
      {"png_claims_huge_size", bytesFile("huge.png", [] { return pngClaiming(30000, 30000); }),
       "calib.xml huge.png 1 1", 1, "frame 0: \"huge.png\" is 30000 x 30000 pixels; " + kSizeText},
      {"png_claims_wide", bytesFile("wide.png", [] { return pngClaiming(70000, 1); }),
       "calib.xml wide.png 1 1", 1, "\"wide.png\" is 70000 x 1 pixels"},
      // The CRCs are right but the compressed data is not: only the decoder
      // can tell, and it says so in a line of its own.
      {"png_bad_compressed_data",
       bytesFile("bad.png",
                 [] {
                   auto b = encode(".png", kFrame);
                   const size_t data = 33 + 8;  // first chunk after IHDR: IDAT
                   b[data + 2] ^= 0x55;
                   const std::uint32_t length =
                       (b[33] << 24) | (b[34] << 16) | (b[35] << 8) | b[36];
                   putBigEndian(b, data + length, testing::pngCrc32(b.data() + 37, length + 4));
                   return b;
                 }),
       "calib.xml bad.png 1 1", 1, "frame 0: cannot read \"bad.png\"", 0, true},
      {"jpeg_truncated",
       bytesFile("cut.jpg",
                 [] {
                   auto b = encode(".jpg", kFrame);
                   b.resize(b.size() - 100);
                   return b;
                 }),
       "calib.xml cut.jpg 1 1", 1, "frame 0: \"cut.jpg\" is truncated (no end-of-image marker)"},
      {"bmp_claims_huge_size",
       bytesFile("huge.bmp",
                 [] {
                   auto b = encode(".bmp", kFrame);
                   b[18] = 0x40, b[19] = 0x0D, b[20] = 0x03, b[21] = 0;  // width 200000
                   return b;
                 }),
       "calib.xml huge.bmp 1 1", 1, "\"huge.bmp\" is 200000 x 100 pixels"},
      {"pgm_claims_huge_size", file("huge.pgm", "P5\n60000 60000\n255\n"), "calib.xml huge.pgm 1 1",
       1, "\"huge.pgm\" is 60000 x 60000 pixels"},
      // 133 bytes that the DICOM decoder takes for its own and aborts on.
      {"frame_crafted_dicom", file("scan.dcm", "P33M" + std::string(123, '0') + "1DICM0"),
       "calib.xml scan.dcm 1 1", 1,
       "frame 0: \"scan.dcm\" is a DICOM file, which plenoview does not read"},
      {"frame_2_missing", nothing, "calib.xml frame%03d.png 3 1", 1,
       "frame 2: cannot read \"frame002.png\"", 2},
      {"frame_1_other_size",
       bytesFile("frame001.png",
                 [] { return encode(".png", cv::Mat(99, 200, CV_8UC1, cv::Scalar(1))); }),
       "calib.xml frame%03d.png 2 1", 1,
       "frame 1: \"frame001.png\" is 200 x 99 pixels, but the first frame is 200 x 100", 1},
      {"frame_1_truncated",
       bytesFile("frame001.png",
                 [] {
                   auto b = encode(".png", kFrame);
                   b.resize(60);
                   return b;
                 }),
       "calib.xml frame%03d.png 2 2", 1, "frame 1: \"frame001.png\" is truncated", 1},

      // ---- lenslet video: status 1 (2 for the options themselves) ----
      {"video_no_size", file("seq.yuv", rawFrames(2)), "calib.xml seq.yuv 1 1", 1,
       "\"seq.yuv\": a raw video needs its frame size: give --size WxH"},
      {"video_size_malformed", file("seq.yuv", rawFrames(2)), "--size 200x calib.xml seq.yuv 1 1",
       1, "--size \"200x\" is not a frame size WIDTHxHEIGHT"},
      {"video_size_odd", file("seq.yuv", rawFrames(2)), "--size 199x100 calib.xml seq.yuv 1 1", 1,
       "\"seq.yuv\": the frame size 199 x 100 is odd"},
      {"video_size_zero", file("seq_0x100_.yuv", ""), "calib.xml seq_0x100_.yuv 1 1", 1,
       "\"seq_0x100_.yuv\": the frame size 0 x 100 is empty"},
      {"video_size_huge", file("seq.yuv", rawFrames(2)), "--size 65536x65536 calib.xml seq.yuv 1 1",
       1, "\"seq.yuv\": the frame size 65536 x 65536 is beyond the limits"},
      {"video_not_whole_frames", file("seq_200x100_.yuv", rawFrames(2) + "12345"),
       "calib.xml seq_200x100_.yuv 1 1", 1,
       "\"seq_200x100_.yuv\" holds 60005 bytes, which is not a whole number of frames of 30000 "
       "bytes"},
      {"video_past_the_end", file("seq_200x100_.yuv", rawFrames(2)),
       "calib.xml seq_200x100_.yuv 3 1", 1,
       "frames 0 .. 2 go past the end of \"seq_200x100_.yuv\", which holds 2 frames (0 .. 1)"},
      {"video_stdin_empty", nothing, "--size 200x100 calib.xml - 1 1", 1,
       "frame 0: standard input ends before this frame, after no frame"},
      {"y4m_chroma_444", file("seq.y4m", "YUV4MPEG2 W200 H100 C444\nFRAME\n" + rawFrames(2)),
       "calib.xml seq.y4m 1 1", 1, "the chroma format \"C444\" is not supported"},
      {"y4m_header_without_end", file("seq.y4m", "YUV4MPEG2 W200 H100 " + std::string(5000, 'X')),
       "calib.xml seq.y4m 1 1", 1, "Y4M header: no end of line within the first 4096 bytes"},
      {"y4m_huge_size", file("seq.y4m", "YUV4MPEG2 W65536 H2\n"), "calib.xml seq.y4m 1 1", 1,
       "the frame size 65536 x 2 is beyond the limits"},
      {"y4m_odd_field", file("seq.y4m", "YUV4MPEG2 W200 H100 F30\n"), "calib.xml seq.y4m 1 1", 1,
       "the frame rate \"F30\" is not of the form F<num>:<den>"},
      {"y4m_bad_frame_marker",
       file("seq.y4m", "YUV4MPEG2 W200 H100\nFRAME\n" + rawFrames(1) + "FRAMEX\n" + rawFrames(1)),
       "calib.xml seq.y4m 1 1", 1, "\"seq.y4m\": frame 1 does not start with a FRAME marker"},
      {"video_size_with_png_frames", nothing, "--size 200x100 calib.xml frame%03d.png 1 1", 2,
       "--size applies to a video ImagePath"},
      {"pixel_format_unknown", nothing, "--pixel-format yuv422p calib.xml seq.yuv 1 1", 2,
       "--pixel-format must be yuv420p or yuv420p10le, not \"yuv422p\""},
      {"output_format_unknown", nothing, "--output-format mp4 calib.xml frame%03d.png 1 1", 2,
       "--output-format must be png, yuv or y4m, not \"mp4\""},
      {"fps_zero", nothing, "--fps 0 calib.xml frame%03d.png 1 1", 2,
       "--fps must be at least 1, not \"0\""},
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
      // Diameter 40 on the 200 x 100 frame: one lens row (30 / (20 sqrt 3)
      // truncates to 0 above and below the centre row) and one lens per type.
      // The types sit at x 100, 60, 20 and y 50, so type 0 is the right type and
      // type 1 the middle one. The views are floor(100 + 40) = 140 wide and
      // floor(50 + 40) = 90 high; (90 - 2 x 50) x 0.125 truncates to -1: no rows.
      {"views_crop_to_nothing", file("c.xml", calibration("40")), "c.xml frame%03d.png 1 1", 1,
       "plenoview: calibration: the views of 140 x 90 pixels leave nothing to crop: the first lens "
       "of the middle lens type (lens_type id 1) lies at (60, 50) with RayCalibData.diameter 40; "
       "check the diameter and the lens_type offsets"},
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

TEST(BadInputTable, HoldsAtLeastFortyDistinctInputs) {
  std::set<std::string> names;
  for (const BadInput& c : badInputs()) EXPECT_TRUE(names.insert(c.name).second) << c.name;
  EXPECT_GE(names.size(), 40u);
}

TEST_P(BadInputMatrix, EndsInOneClearLine) {
  const BadInput& c = GetParam();
  const std::string dir = testing::makeTestDir();
  writeTextFile(dir + "/calib.xml", calibration("20"));
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
  const struct {
    const char* what;
    std::string calibration;
  } cases[] = {
      {"rotation just under half a turn", calibration("20", "3.14159")},
      {"rotation just under minus half a turn", calibration("20", "-3.14159")},
      {"centre on the left edge", calibration("20", "0", "-100")},
      {"centre on the right edge", calibration("20", "0", "100")},
      {"centre a radius below the top", calibration("20", "0", "0", "40")},
      {"centre on the bottom edge", calibration("20", "0", "0", "-50")},
      {"lens types 1000 diameters away",
       calibration("20", "0", "0", "0",
                   lensType("0", "1000", "-1000") + lensType("1", "-1000", "0") +
                       lensType("2", "0", "1000"))},
      {"smallest lenses", calibration("6", "0.9", "3", "-2")},
      {"all lens types alike",
       calibration("20.999", "0", "0.5", "0.5", lensType("0", "0", "0") + lensType("1", "0", "0"))},
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
  writeTextFile(dir + "/calib.xml", calibration("20"));
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
                         [](const ::testing::TestParamInfo<BadInput>& info) {
                           return std::string(info.param.name);
                         });

// ---- plenoview-compare: hostile input ----
// Each case builds REF and TEST in its folder and must end in exactly one
// "plenoview-compare: " line naming the thing at fault (the usage after it
// for status 2), nothing on stdout, and no sanitizer report; a FIFO is never
// waited on.

// Two digits, as view names carry x and y.
std::string twoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// <dir>/<name>/Result: n x n views of 4 x 2 pixels, `frames` frames each, as
// plenoview writes them with --output-format png, yuv or y4m.
void compareRun(const std::string& dir, const std::string& name, const std::string& format,
                int frames = 2, int n = 2) {
  const std::string result = dir + "/" + name + "/Result/";
  fs::create_directories(result);
  const std::string planes(12, static_cast<char>(100));  // Y 8 samples, U 2, V 2
  for (int x = 0; x < n; ++x) {
    for (int y = 0; y < n; ++y) {
      const std::string view = "c" + twoDigits(x) + twoDigits(y);
      std::string bytes = format == "y4m" ? "YUV4MPEG2 W4 H2 F30:1 Ip A1:1 C420jpeg\n" : "";
      for (int k = 0; k < frames; ++k) {
        bytes += (format == "y4m" ? "FRAME\n" : "") + planes;
        if (format == "png") {
          cv::imwrite(result + "Result_f000" + std::to_string(k) + "_" + view + ".png",
                      cv::Mat(2, 4, CV_8UC3, cv::Scalar(9, 8, 7)));
        }
      }
      if (format == "yuv") writeTextFile(result + "Result_" + view + "-4x2.yuv", bytes);
      if (format == "y4m") writeTextFile(result + "Result_" + view + ".y4m", bytes);
    }
  }
}

// A, a yuv run, and a B prepared by `spoil` in the case's folder.
BadInput::Prepare againstYuv(std::function<void(const std::string& dir)> spoil) {
  return [=](const std::string& dir) {
    compareRun(dir, "a", "yuv");
    spoil(dir);
  };
}

// file() with the folders on the way created.
BadInput::Prepare fileIn(const std::string& name, const std::string& text) {
  return [=](const std::string& dir) {
    fs::create_directories(fs::path(dir + "/" + name).parent_path());
    writeTextFile(dir + "/" + name, text);
  };
}

void cutFile(const std::string& path, int bytes) {
  fs::resize_file(path, fs::file_size(path) - bytes);
}

struct CompareBadInput {
  const char* name;
  BadInput::Prepare prepare;
  Args args;
  int status;
  std::string names;          // the error line must contain this
  bool decoderNoise = false;  // the PNG decoder may print a line of its own first
};

void PrintTo(const CompareBadInput& c, std::ostream* out) { *out << c.name; }

std::vector<CompareBadInput> compareBadInputs() {
  const auto yuvRun = [](const std::string& name, int frames = 2, int n = 2) {
    return [=](const std::string& dir) { compareRun(dir, name, "yuv", frames, n); };
  };
  const auto pngRun = [](const std::string& dir) { compareRun(dir, "b", "png"); };
  return {
      {"compare_no_arguments", nothing, "", 2, "expected 2 arguments (REF TEST), got 0"},
      {"compare_missing_side", againstYuv(nothing), "a gone", 1,
       "cannot open TEST \"gone\": No such file or directory"},
      {"compare_folder_of_something_else", againstYuv(fileIn("b/notes.txt", "x")), "a b", 1,
       "\"b/notes.txt\" is not a view file"},
      {"compare_png_cut", againstYuv([=](const std::string& dir) {
         pngRun(dir);
         cutFile(dir + "/b/Result/Result_f0001_c0100.png", 10);
       }),
       "a b", 1, "\"b/Result/Result_f0001_c0100.png\" is cut short"},
      {"compare_png_damaged_inside", againstYuv([=](const std::string& dir) {
         pngRun(dir);
         const std::string path = dir + "/b/Result/Result_f0001_c0101.png";
         std::string bytes = testing::readFile(path);
         bytes[bytes.size() - 20] ^= 0x55;  // inside the data; both ends stay sound
         writeTextFile(path, bytes);
       }),
       "a b", 1, "cannot decode the view \"b/Result/Result_f0001_c0101.png\"", true},
      {"compare_yuv_size_in_name_unfit", againstYuv([=](const std::string& dir) {
         yuvRun("b")(dir);
         cutFile(dir + "/b/Result/Result_c0001-4x2.yuv", 1);
       }),
       "a b", 1,
       "\"b/Result/Result_c0001-4x2.yuv\" holds 23 bytes, which is not a whole number of frames "
       "of 12 bytes"},
      {"compare_view_symlink", againstYuv([=](const std::string& dir) {
         yuvRun("b")(dir);
         fs::remove(dir + "/b/Result/Result_c0101-4x2.yuv");
         fs::create_symlink(dir + "/a/Result/Result_c0101-4x2.yuv",
                            dir + "/b/Result/Result_c0101-4x2.yuv");
       }),
       "a b", 1, "\"b/Result/Result_c0101-4x2.yuv\" is a symbolic link"},
      {"compare_result_symlink", againstYuv([](const std::string& dir) {
         fs::create_directory(dir + "/b");
         fs::create_directory_symlink(dir + "/a/Result", dir + "/b/Result");
       }),
       "a b", 1, "\"b/Result\" is a symbolic link"},
      {"compare_fifo_in_folder", againstYuv([=](const std::string& dir) {
         yuvRun("b")(dir);
         testing::runProcess({"mkfifo", dir + "/b/Result/Result_c0101-4x2.yuv.part"});
       }),
       "a b", 1, "\"b/Result/Result_c0101-4x2.yuv.part\" is not a regular file"},
      {"compare_fifo_video",
       [](const std::string& dir) {
         writeTextFile(dir + "/v_4x2_.yuv", std::string(12, 'x'));
         testing::runProcess({"mkfifo", dir + "/pipe_4x2_.yuv"});
       },
       "v_4x2_.yuv pipe_4x2_.yuv", 1, "TEST \"pipe_4x2_.yuv\" is not a regular file"},
      {"compare_device_video",
       [](const std::string& dir) {
         writeTextFile(dir + "/v_4x2_.yuv", std::string(12, 'x'));
         fs::create_symlink("/dev/zero", dir + "/zero.yuv");
       },
       "zero.yuv v_4x2_.yuv", 1, "REF \"zero.yuv\" is not a regular file"},
      {"compare_device_side", nothing, "/dev/zero /dev/null", 1,
       "REF \"/dev/zero\" is neither a folder of views nor a lenslet video"},
      {"compare_view_counts_differ", againstYuv(yuvRun("b", 2, 3)), "a b", 1,
       "REF \"a\" has 2 x 2 views, TEST \"b\" 3 x 3"},
      {"compare_frames_differ", againstYuv(yuvRun("b", 1)), "a b/Result", 1,
       "frame 1 is in REF \"a\" but not in TEST \"b/Result\""},
      {"compare_view_sizes_differ", againstYuv([](const std::string& dir) {
         compareRun(dir, "b", "yuv");
         for (const fs::directory_entry& view : fs::directory_iterator(dir + "/b/Result")) {
           const std::string name = view.path().string();
           fs::rename(name, name.substr(0, name.size() - 7) + "2x4.yuv");
         }
       }),
       "a b", 1, "REF \"a\" has views of 4 x 2, TEST \"b\" of 2 x 4"},
      {"compare_lenslet_sizes_differ",
       [](const std::string& dir) {
         writeTextFile(dir + "/v_4x2_.yuv", std::string(12, 'x'));
         writeTextFile(dir + "/u_2x4_.yuv", std::string(12, 'x'));
       },
       "v_4x2_.yuv u_2x4_.yuv", 1,
       "REF \"v_4x2_.yuv\" is 4 x 2, 8-bit 4:2:0, TEST \"u_2x4_.yuv\" 2 x 4, 8-bit 4:2:0"},
      {"compare_kinds_differ", againstYuv(file("v_4x2_.yuv", std::string(12, 'x'))), "a v_4x2_.yuv",
       1, "REF \"a\" is a view folder and TEST \"v_4x2_.yuv\" a lenslet video"},
      {"compare_json_unwritable", againstYuv(yuvRun("b")), "--json /proc/figures.json a b", 1,
       "cannot write \"/proc/figures.json\""},
  };
}

class CompareBadInputMatrix : public ::testing::TestWithParam<CompareBadInput> {};

TEST_P(CompareBadInputMatrix, EndsInOneClearLine) {
  const CompareBadInput& c = GetParam();
  const std::string dir = testing::makeTestDir();
  c.prepare(dir);
  std::vector<std::string> argv = {PLENOVIEW_COMPARE_BINARY};
  argv.insert(argv.end(), c.args.words.begin(), c.args.words.end());
  testing::ProcessOptions options{dir, {}};
  options.timeout = std::chrono::seconds(60);
  const testing::ProcessResult run = testing::runProcess(argv, options);

  EXPECT_EQ(run.exitStatus, c.status) << run.err;
  EXPECT_EQ(run.out, "");
  for (const char* report : {"runtime error", "AddressSanitizer", "LeakSanitizer"}) {
    EXPECT_EQ(run.err.find(report), std::string::npos) << run.err;
  }
  std::string ours = run.err;
  if (c.status == 2) {
    const size_t usage = run.err.find("usage: plenoview-compare [options] REF TEST\n");
    ASSERT_NE(usage, std::string::npos) << run.err;
    ours = run.err.substr(0, usage);
  }
  std::vector<std::string> lines = linesOf(ours);
  ASSERT_FALSE(lines.empty());
  if (c.decoderNoise) lines.erase(lines.begin(), lines.end() - 1);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind("plenoview-compare: ", 0), 0u) << run.err;
  EXPECT_NE(lines[0].find(c.names), std::string::npos) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Cases, CompareBadInputMatrix, ::testing::ValuesIn(compareBadInputs()),
                         [](const ::testing::TestParamInfo<CompareBadInput>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace plenoview
