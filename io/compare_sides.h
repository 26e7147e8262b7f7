#pragma once

#include "io/video_format.h"

#include <string>
#include <vector>

namespace plenoview {

// The coding loss between two sets of views, or two lenslet videos, measured
// as the coding workflow measures it: a REF side (say the views of the
// original lenslet video) against a TEST side (those of the decoded one).
// plenoview-compare prints it; the Python module returns it.

// The figures of one view (or of the whole frame, or their mean), per plane
// Y, U, V. A plane that is not measured (U and V when a side has the Y plane
// only) holds NaN.
struct PlaneScores {
  std::string name;  // "c<x:02><y:02>" for a view
  double mse[3];     // mean squared error over every sample of every frame
  double psnr[3];    // 10 log10(peak^2 / mse) dB, +infinity where mse is 0
  double psnrYuv;    // (6 Y + U + V) / 8
};

struct Comparison {
  bool lenslet = false;  // two lenslet videos; otherwise two view folders
  bool chroma = true;    // U and V measured: neither side is grey (Y only)
  int peak = 255;        // the largest sample: 255, or 1023 for 10-bit samples
  int frames = 0;
  // View folders: one entry per view, in the order of their names (x, then
  // y); empty for lenslet videos.
  std::vector<PlaneScores> views;
  // View folders: the arithmetic mean of the views' figures (one infinite
  // PSNR makes the mean infinite), which is MV-PSNR; lenslet videos: the
  // whole frame's figures, lenslet PSNR. Named "mean" or "lenslet".
  PlaneScores total;
};

// 10 log10(peak^2 / mse): +infinity for an MSE of 0, NaN for NaN.
double psnrFromMse(double mse, int peak);

// (6 Y + U + V) / 8 of a view's PSNRs, the weighting of 4:2:0 samples
// (NaN when U and V are NaN).
double yuvPsnr(const double (&psnr)[3]);

// The arithmetic mean of the views' figures, each plane and the YUV PSNR
// averaged on its own, named "mean". Expects at least one view.
PlaneScores meanScores(const std::vector<PlaneScores>& views);

// Measures TEST against REF. Each is a view folder (io/view_folder.h: PNG,
// yuv or y4m views; the two may differ in kind) or a lenslet video file (.yuv
// sized by raw.sizeText or its name, 10-bit by raw.pixelFormat or its name;
// .y4m). Views pair by index and frame. Every plane of every frame of every
// view is compared sample by sample: a PNG view as the yuv output converts it
// (viewToPlanes), a video's samples as stored (10-bit unreduced, peak 1023).
// A side with the Y plane only (grey PNG views, mono Y4M) leaves U and V
// unmeasured.
//
// Reads frame after frame (memory does not grow with the number of frames),
// views in parallel on OpenCV's worker threads (base/parallel_work.h), or a
// lenslet frame's planes in parallel strips.
//
// Throws PlenoviewError, one line, for a side that cannot be read (naming
// the file at fault), for two sides of different kinds, and, naming both
// sides, for a different number of views, view or frame size, bit depth, or
// set of frames.
Comparison compareSides(const std::string& ref, const std::string& test,
                        const RawVideoOptions& raw = {});

}  // namespace plenoview
