#include "tools/synth/synthesize.h"

int main(int argc, char** argv) { return plenoview::synth::runSynth(argc, argv); }
