#include "base/whole_number.h"

#include "base/plenoview_error.h"

#include <cctype>
#include <climits>
#include <string>

namespace plenoview {

int parseWholeNumber(const std::string& text, const std::string& what) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t firstDigit = i;
  long long value = 0;
  bool overflow = false;
  while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
    if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
    overflow = overflow || value > static_cast<long long>(INT_MAX) + 1;
    ++i;
  }
  const bool anyDigit = i > firstDigit;
  while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (!anyDigit || i != n) {
    throw UsageError(what + " must be a whole decimal number, not \"" + text + "\"");
  }
  if (negative) value = -value;
  if (overflow || value > INT_MAX || value < INT_MIN) {
    throw UsageError(what + " \"" + text + "\" is out of range");
  }
  return static_cast<int>(value);
}

}  // namespace plenoview
