#include "tools/quality/quality_report.h"

int main(int argc, char** argv) { return plenoview::quality::runQuality(argc, argv); }
