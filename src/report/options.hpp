// The command-line options of the reports. The command line hands every
// option it does not know itself to parseReportOption.
#pragma once

#include <string>
#include <vector>

#include "report/gates.hpp"
#include "report/segments.hpp"

namespace lumaqc::report {

enum class ProgressMode { Auto, On, Off };

struct ReportOptions {
    std::string jsonPath;  // --json FILE ("-": standard output); empty: none
    std::string csvPath;   // --csv FILE ("-": standard output); empty: none
    std::string htmlPath;  // --html FILE; empty: none
    bool events = false;   // --events: a line per segment on the console as it ends
    bool summary = false;  // --summary: pooled statistics and segments after the run
    bool quiet = false;    // --quiet: no per-frame console rows
    ProgressMode progress = ProgressMode::Auto;  // --progress / --no-progress
    std::vector<Gate> gates;                     // --fail-if EXPR, parsed
    SegmentOptions segments;  // --min-black/-freeze/-letterbox/-pillarbox/-interlaced SECONDS,
                              // --interlace-threshold VALUE

    // Whether a report goes to standard output (the console text then goes to
    // the error stream, so that standard output carries the report alone).
    bool reportOnStandardOutput() const { return jsonPath == "-" || csvPath == "-"; }
};

enum class OptionStatus {
    Consumed,  // the option (and its value) was taken; index moved past them
    Unknown,   // not a report option; index unchanged
    Error,     // a report option with a bad or missing value; error set
};

// Reads the option at args[index] (and its value: "--json FILE" or
// "--json=FILE").
OptionStatus parseReportOption(const std::vector<std::string>& args, size_t& index, ReportOptions& options,
                               std::string* error);

// Checks the options together once all are read (e.g. two reports on
// standard output); empty when they are fine.
std::string checkReportOptions(const ReportOptions& options);

// The usage lines of the report options.
const char* reportOptionsUsage();

}  // namespace lumaqc::report
