#include "tools/compare/compare_command.h"

int main(int argc, char** argv) { return plenoview::compare::runCompare(argc, argv); }
