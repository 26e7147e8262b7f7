// libFuzzer target: see tests/fuzz/fuzz_entries.h for the input layout.
#include "tests/fuzz/fuzz_entries.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plenoview::fuzz::y4mHeader(data, size);
  return 0;
}
