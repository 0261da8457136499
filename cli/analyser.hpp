// The command-line analyser: arguments, video file, library, console and log.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "report/gates.hpp"
#include "report/segments.hpp"

namespace lumaqc {

// Where one run writes: its standard output and error stream, and the folder
// of its log.
struct RunStreams {
    std::FILE* console = stdout;
    std::FILE* error = stderr;
    int logFolder = AT_FDCWD;
    // The program's own single run: it catches the stop signals once its
    // arguments are read, and a report on "-" takes the process's standard
    // output over. Runs side by side in one process leave both alone.
    bool ownProcess = true;
};

struct RunOutcome {
    int status = -1;     // the exit status (-1 for 255)
    int64_t frames = 0;  // frames analysed (rows written)
    // A run that reached its reports: what they found, for a verdict.
    bool finished = false;
    double fps = 0.0;
    std::string startTimecode;  // the container's, "" when none
    std::string profile;        // the profile applied, "" when none
    std::vector<report::Segment> events, waived, atEdges;  // gated, waived and --edge segments
    std::vector<report::GateResult> gates;
    std::vector<std::string> warnings;  // the reader's, as the JSON report lists them
};

// One run over the command line's arguments with the given indicator set
// (LUMAQC_INDICATORS_*), writing to streams.
RunOutcome runAnalysis(int argc, char** argv, int indicators, const RunStreams& streams);

// Runs the whole program with the given indicator set; returns the exit status.
int runAnalyser(int argc, char** argv, int indicators);

}  // namespace lumaqc
