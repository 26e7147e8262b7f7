#include "driver/print_lines.h"

#include <iostream>
#include <sstream>

namespace plenoview {

void printLines(const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) std::cout << line << std::endl;
}

}  // namespace plenoview
