// Many inputs in one invocation: each analysed as one run is (runAnalysis),
// on a thread of its own with its own context and its reports in the output
// folders, several at once, and a combined summary of frames, tripped gates
// and errors.
#pragma once

namespace lumaqc {

// Whether the command line names output folders or list files (--json-dir,
// --csv-dir, --list): then every positional argument is an input.
bool isBatchCommand(int argc, char** argv);

// Runs the batch; the exit status is 255 when an input failed, else 1 when a
// gate tripped, else 0.
int runBatch(int argc, char** argv);

}  // namespace lumaqc
