#pragma once

#include "tools/quality/quality_measures.h"

#include <ostream>
#include <string>

namespace plenoview::quality {

// The tables that plenoview-quality prints, one line per row, columns
// separated by blanks and aligned, numbers with two decimals.

// "scene | type 0 | type 1 | type 2": PSNR of the centre views at the true
// patch sizes, one row per scene.
void printTrueSizeHeader(std::ostream& out);
void printTrueSizeRow(std::ostream& out, const std::string& scene, const TrueSizeQuality& quality);

// "type | true size | lenses | exact | within one step": shares in percent.
void printEstimationTable(std::ostream& out, const SizeTable (&tables)[kLensTypes]);

// The whole program: generates scenes with the generator's options given on
// the command line as the base (or measures the folder given with --data),
// and prints the tables on stdout. Returns the exit status (0, 1 or 2).
int runQuality(int argc, const char* const* argv);

}  // namespace plenoview::quality
