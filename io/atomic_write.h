#pragma once

#include "io/png_encoder.h"
#include "io/written_pages.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace plenoview {

// A view as a PNG file at `path`, in two halves so that views can be
// encoded in parallel and written in order.
//
// encodePng: the PNG bytes of `image` (8-bit grey or B, G, R), encoded in
// memory by `encoder` into `bytes`, whose memory is reused; decoded, they
// hold the pixels that cv::imwrite would write. PlenoviewError "cannot
// encode the view \"<path>\" as PNG" when the encoder refuses the image
// (empty, another depth or channel count).
void encodePng(const std::string& path, const cv::Mat& image, PngEncoder& encoder,
               std::vector<uchar>& bytes);
// The same with an encoder of the fastest level, made for the one call.
std::vector<uchar> encodePng(const std::string& path, const cv::Mat& image);

// writeEncodedAtomically: writes `bytes` so that `path` never holds a partial
// file, whatever stops the process (Ctrl-C, kill, a full disk): to a hidden
// temporary file in the same folder, temporaryPathFor(path), renamed over
// `path` once complete. A symlink under `path` is replaced, not followed;
// anything at `path` that is not a regular file, directly or behind a
// symlink (a folder, a device, a pipe), is left alone and counts as a
// failure. On failure the temporary file is removed and PlenoviewError
// "cannot write the view \"<path>\"" is thrown; `path` keeps what it held.
// With `pages`, the file written is handed to it, to leave the page cache
// once it is on the disk.
void writeEncodedAtomically(const std::string& path, const std::vector<uchar>& bytes,
                            WrittenPages* pages = nullptr);

// "<folder>/.<name>.tmp-<token>" for "<folder>/<name>", where the token is a
// random hex string drawn once per process, so that runs on several machines
// writing into one shared folder never pick the same name.
std::string temporaryPathFor(const std::string& path);

// True when the file name `name` (no folder) has the form of a temporary
// file made by temporaryPathFor for a PNG: ".<stem>.png.tmp-<token>".
bool isTemporaryPngName(const std::string& name);

}  // namespace plenoview
