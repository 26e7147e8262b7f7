#include "driver/run_plenoview.h"

int main(int argc, char** argv) { return plenoview::runPlenoview(argc, argv); }
