// The command-line analyser: arguments, video file, library, console and log.
#pragma once

namespace lumaqc {

// Runs the whole program with the given indicator set (LUMAQC_INDICATORS_*);
// returns the exit status.
int runAnalyser(int argc, char** argv, int indicators);

}  // namespace lumaqc
