#pragma once

#include <cstddef>
#include <cstdint>

namespace plenoview::fuzz {

// Entry points shared by the libFuzzer targets and by the regression test
// that replays every stored input. Each runs one input through the code that
// handles untrusted text or bytes. A refusal (PlenoviewError) is an expected
// outcome; any other exception, a crash, a hang or a sanitizer report is a
// finding. A broken invariant aborts.

// Bytes 0..1 and 2..3: frame width and height, 1 + (little-endian value mod
// 4096); byte 4: ViewNum, 1 + (value mod 99), and a colour frame when it is
// 128 or more; the rest: the calibration file.
// Reads and checks the calibration on a frame of that size, sets the
// renderer up, checks its limits and places the first and last lens of every
// type in the first and last view.
void calibrationReader(const std::uint8_t* data, std::size_t size);

// Bytes 0..3: the frame index (little-endian int); the rest: the ImagePath
// pattern. Checks the pattern and, when it is accepted, formats it.
void framePattern(const std::uint8_t* data, std::size_t size);

// The whole input is a frame file, inspected as before decoding and then,
// when the check lets it through, decoded as the frame reader does.
void frameFile(const std::uint8_t* data, std::size_t size);

// The whole input is a Y4M file: the header is parsed, the frame records
// located, and up to four frames read and converted as a run reads them.
void y4mHeader(const std::uint8_t* data, std::size_t size);

}  // namespace plenoview::fuzz
