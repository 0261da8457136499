// Many inputs in one invocation: each analysed as one run is (runAnalysis),
// on a thread of its own with its own context and its reports in the output
// folders, several at once, and a combined summary of frames, tripped gates
// and errors.
#pragma once

#include <string>
#include <vector>

namespace lumaqc {

// Whether the command line names output folders or list files (--json-dir,
// --csv-dir, --list): then every positional argument is an input.
bool isBatchCommand(int argc, char** argv);

// The report name of each input (the folders' files are NAME.json and
// NAME.csv): its base name, or for a later input of the same base name the
// first NAME.N (N from 2) that is no input's base name nor another's report.
std::vector<std::string> reportNames(const std::vector<std::string>& inputs);

// Runs the batch; the exit status is 255 when an input failed, else 1 when a
// gate tripped, else 0.
int runBatch(int argc, char** argv);

}  // namespace lumaqc
