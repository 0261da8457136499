// lumaqc: no-reference quality indicators for every frame of a raw YUV 4:2:0 clip.
#include "analyser.hpp"
#include "batch.hpp"
#include "merge.hpp"
#include "lumaqc/lumaqc.h"

int main(int argc, char** argv) {
    if (lumaqc::isMergeCommand(argc, argv)) return lumaqc::runMerge(argc, argv);
    if (lumaqc::isBatchCommand(argc, argv)) return lumaqc::runBatch(argc, argv);
    return lumaqc::runAnalyser(argc, argv, LUMAQC_INDICATORS_FAST);
}
