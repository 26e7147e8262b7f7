#include "tools/view/run_view.h"

#include <iostream>

int main(int argc, char** argv) {
  return plenoview::view::runView(argc, argv, std::cout, std::cerr);
}
