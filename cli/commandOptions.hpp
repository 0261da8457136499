// Separates the "--" options of the command line from its positional
// arguments; the report options go to the report module's parser.
#pragma once

#include <string>
#include <vector>

#include "report/options.hpp"

namespace lumaqc {

struct CommandLine {
    std::vector<char*> positional;  // argv[0] and the positional arguments, in order
    report::ReportOptions reports;
};

// Takes the report options out of the command line: every argument starting
// with "--" is an option until a lone "--". The other options and the
// positional arguments are kept in order for parseArguments. Returns an error
// text for a bad report option value (a usage error), else an empty string.
std::string splitCommandLine(int argc, char** argv, CommandLine* out);

// The name of the option word "--name" or "--name=value".
std::string optionName(const std::string& word);

// The value of the option word argv[*i]: after its '=', else the next
// argument (*i then moves onto it). False when there is none.
bool optionValue(const std::string& word, int argc, char** argv, int* i, std::string* value);

// The analysis path of the fast indicators (LUMAQC_PATH_*): the per-indicator
// one when the environment variable LUMAQC_ANALYSIS_PATH is "per-indicator"
// (for benchmarks and comparisons), else the one-pass analysis.
int analysisPathFromEnvironment();

// The values added since 1.0 that are skipped (LUMAQC_SKIP_* bits), to
// measure their cost, from the environment variable LUMAQC_SKIP_ADDED_VALUES:
// "1" all of them, "events" those of the events, "levels" the signal levels,
// "flashes" the flash screening;
// the events built on skipped values then find nothing.
int skipAddedValuesFromEnvironment();

// The instruction-set name of a LUMAQC_ISA_* bit, as the reports show it.
const char* instructionSetName(unsigned isa);

}  // namespace lumaqc
