// The command-line options of the reports. The command line hands every
// option it does not know itself to parseReportOption.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "report/gates.hpp"
#include "report/segments.hpp"

namespace lumaqc::report {

enum class ProgressMode { Auto, On, Off };

// What an option of the command line is about, for many inputs in one
// invocation: handed to every input's run, or not.
enum class OptionScope {
    EachInput,  // the same for every input: each run gets it
    OneRun,     // one run's own (its report files, a piece of it, the help)
    Console,    // only what the console shows
};

struct OptionSpec {
    std::string_view name;
    bool takesValue;  // "--name VALUE" or "--name=VALUE"; else a flag, written alone
    OptionScope scope;
};

// The report options.
inline constexpr OptionSpec kReportOptions[] = {
    {"--json", true, OptionScope::OneRun},
    {"--csv", true, OptionScope::OneRun},
    {"--html", true, OptionScope::OneRun},
    {"--events", false, OptionScope::EachInput},
    {"--summary", false, OptionScope::EachInput},
    {"--quiet", false, OptionScope::Console},
    {"--progress", false, OptionScope::Console},
    {"--no-progress", false, OptionScope::Console},
    {"--fail-if", true, OptionScope::EachInput},
    {"--min-black", true, OptionScope::EachInput},
    {"--min-freeze", true, OptionScope::EachInput},
    {"--min-letterbox", true, OptionScope::EachInput},
    {"--min-pillarbox", true, OptionScope::EachInput},
    {"--min-interlaced", true, OptionScope::EachInput},
    {"--min-flat", true, OptionScope::EachInput},
    {"--min-flash", true, OptionScope::EachInput},
    {"--interlace-threshold", true, OptionScope::EachInput},
    {"--field-order-threshold", true, OptionScope::EachInput},
    {"--min-bar", true, OptionScope::EachInput},
    {"--bar-change", true, OptionScope::EachInput},
    {"--min-out-of-range", true, OptionScope::EachInput},
    {"--range", true, OptionScope::EachInput},
    {"--range-area", true, OptionScope::EachInput},
    {"--black-level", true, OptionScope::EachInput},
    {"--freeze-noise", true, OptionScope::EachInput},
    {"--edge", true, OptionScope::EachInput},
};

// The option called name in options, or null.
template <size_t N>
const OptionSpec* findOption(const OptionSpec (&options)[N], std::string_view name) {
    for (const OptionSpec& option : options)
        if (option.name == name) return &option;
    return nullptr;
}

struct ReportOptions {
    std::string jsonPath;  // --json FILE ("-": standard output); empty: none
    std::string csvPath;   // --csv FILE ("-": standard output); empty: none
    std::string htmlPath;  // --html FILE; empty: none
    bool events = false;   // --events: a line per segment on the console as it ends
    bool summary = false;  // --summary: pooled statistics and segments after the run
    bool quiet = false;    // --quiet: no per-frame console rows
    ProgressMode progress = ProgressMode::Auto;  // --progress / --no-progress
    std::vector<Gate> gates;                     // --fail-if EXPR, parsed
    std::vector<Waiver> waivers;  // --waivers FILE: events marked as intended, which trip no gate
    // --edge SECONDS (a profile's "edge"): segments starting in the first or
    // ending in the last this many seconds of the run trip no gate.
    double edgeSeconds = 0.0;
    std::string profile;  // --profile: the name or file of the profile applied (for the reports)
    SegmentOptions segments;  // the options of segmentSettings(): --min-black/-freeze/-letterbox/-pillarbox/
                              // -interlaced/-out-of-range/-flat SECONDS, --interlace-threshold,
                              // --field-order-threshold, --black-level, --freeze-noise VALUE, --min-bar,
                              // --bar-change PIXELS; --range NAME|LOW-HIGH, --range-area FRACTION

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

// The range named by --range: r103 (5-246), nominal (16-235), full (0-255)
// or LOW-HIGH (decimal codes, 0 <= LOW <= HIGH <= 255, HIGH >= 1); false
// for anything else.
bool parseRange(const std::string& text, int* low, int* high);

// Checks the options together once all are read (e.g. two reports on
// standard output); empty when they are fine.
std::string checkReportOptions(const ReportOptions& options);

// The usage lines of the report options.
const char* reportOptionsUsage();

}  // namespace lumaqc::report
