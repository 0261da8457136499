// lumaqc: no-reference quality indicators for every frame of a raw YUV 4:2:0 clip.
#include "analyser.hpp"
#include "batch.hpp"
#include "check.hpp"
#include "diff.hpp"
#include "merge.hpp"
#include "outputs.hpp"
#include "lumaqc/lumaqc.h"

int main(int argc, char** argv) {
    // Before any file is opened, so that none becomes standard output.
    lumaqc::makeStandardDescriptorsValid();
    if (lumaqc::isCheckCommand(argc, argv)) return lumaqc::runCheck(argc, argv);
    if (lumaqc::isDiffCommand(argc, argv)) return lumaqc::runDiff(argc, argv);
    if (lumaqc::isMergeCommand(argc, argv)) return lumaqc::runMerge(argc, argv);
    if (lumaqc::isBatchCommand(argc, argv)) return lumaqc::runBatch(argc, argv);
    return lumaqc::runAnalyser(argc, argv, LUMAQC_INDICATORS_FAST);
}
