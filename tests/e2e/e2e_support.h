#pragma once

// What the end-to-end tests share besides starting processes: a generated
// sequence of frames, the Result folder as a map of file names to bytes, and
// the names and lines the binary writes.

#include <opencv2/core.hpp>

#include <map>
#include <string>
#include <vector>

namespace plenoview::testing {

// Frame k of the generated sequence: 200 x 100 grey, different for every k.
cv::Mat sequenceFrame(int k);

// Writes calib.xml (the worked example) and frames first .. end-1 as
// f000.png, f001.png, ... into dir.
void writeSequence(const std::string& dir, int first, int end);

// File name -> bytes of every file in `folder`, hidden ones included; empty
// when there is no such folder.
std::map<std::string, std::string> filesIn(const std::string& folder);

// Names of the files whose bytes differ between two folders' maps, and the
// names present in only one of them.
std::vector<std::string> differingFiles(const std::map<std::string, std::string>& a,
                                        const std::map<std::string, std::string>& b);

// "Result_fFFFF_cXXYY.png": view (x, y) of `frame`.
std::string viewFileName(int frame, int x, int y);

// The names of the N x N views of frames first .. end-1, frame after frame,
// each frame's in the order they are written (y outer, x inner).
std::vector<std::string> viewFileNames(int first, int end, int N);

// The four lines the binary prints first, echoing its arguments.
std::string argumentLines(const std::string& calibPath, const std::string& imagePath,
                          const std::string& imageNum, int viewNum);

// The counters of frames first .. end-1 as the frame loop prints them:
// "frameCnt:0003\r" for frame 3.
std::string frameCounters(int first, int end);

// A regular expression for the closing line of a run that reached its frames,
// "summary: <counts> in 1.2 s (0.40 s/frame)\n"; the times vary.
std::string summaryPattern(const std::string& counts);

}  // namespace plenoview::testing
