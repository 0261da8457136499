// lumaqcReference: the same analyser running the literal indicator compositions.
#include "analyser.hpp"
#include "lumaqc/lumaqc.h"

int main(int argc, char** argv) { return lumaqc::runAnalyser(argc, argv, LUMAQC_INDICATORS_REFERENCE); }
