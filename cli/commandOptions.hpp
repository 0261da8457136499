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

// Every argument starting with "--" is an option until a lone "--", after
// which all are positional. Returns an error text for an unknown option or a
// bad value (a usage error), else an empty string.
std::string splitCommandLine(int argc, char** argv, CommandLine* out);

// The instruction-set name of a LUMAQC_ISA_* bit, as the reports show it.
const char* instructionSetName(unsigned isa);

}  // namespace lumaqc
