#include "tools/view/data_uri.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace plenoview::view {
namespace {

// The test vectors of RFC 4648, section 10, with every length modulo 3, and
// bytes whose six-bit groups reach both ends of the alphabet.
TEST(DataUri, WritesBase64AsRfc4648Does) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\xff\xef\x00", 3), "/+8A"},
  };
  for (const auto& [bytes, base64] : vectors) {
    EXPECT_EQ(dataUri("image/png", std::vector<uchar>(bytes.begin(), bytes.end())),
              "data:image/png;base64," + base64);
  }
}

}  // namespace
}  // namespace plenoview::view
