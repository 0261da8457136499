// The command line: [OPTIONS] INPUT [WIDTH HEIGHT [FPS [NumberOfFrames [startFrame]]]]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/options.hpp"

namespace lumaqc {

struct Arguments {
    const char* videoPath = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    bool sizeGiven = false;  // WIDTH HEIGHT were given
    double fps = 25.0;
    bool fpsGiven = false;
    bool framesFromFile = true;  // NumberOfFrames absent: every whole frame of the input
    int32_t frames = 0;          // valid when !framesFromFile
    int32_t startFrame = 0;
    std::string inputFormat;  // --input-format: "", "raw", "y4m", "libav"
    int32_t threads = -1;     // --threads: frames analysed at once (-1: every processor available)
    int32_t runStart = -1;    // --run-start: first frame of the run this one is a piece of (-1: none)
    bool reference = false;   // --reference: the literal indicator compositions
    std::string logPath;      // --log FILE: where the log goes (empty: the default name in the log folder)
    bool noLog = false;       // --no-log: no log file
    std::string error;        // the one-line message of ParseStatus::BadOption
    // WIDTH, HEIGHT, startFrame as typed (empty when not given positionally).
    std::string widthText, heightText, startText;
    // What the conversions made of positionals that do not read as written
    // (text after the number, a value outside 32 bits, an FPS that is not a
    // positive finite number): one line each, without "Warning: ".
    std::vector<std::string> warnings;
};

// The options of the input and the analysis (the report options are
// report::kReportOptions).
inline constexpr report::OptionSpec kInputOptions[] = {
    {"--help", false, report::OptionScope::OneRun},
    {"--version", false, report::OptionScope::OneRun},
    {"--log", true, report::OptionScope::OneRun},
    {"--no-log", false, report::OptionScope::EachInput},
    // Taken by the command line before the report options, so that those given win.
    {"--profile", true, report::OptionScope::EachInput},
    {"--waivers", true, report::OptionScope::EachInput},
    {"--reference", false, report::OptionScope::EachInput},
    {"--input-format", true, report::OptionScope::EachInput},
    {"--fps", true, report::OptionScope::EachInput},
    {"--frames", true, report::OptionScope::EachInput},
    {"--start", true, report::OptionScope::EachInput},
    // Many inputs share the threads out themselves.
    {"--threads", true, report::OptionScope::OneRun},
    {"--run-start", true, report::OptionScope::OneRun},
};

enum class ParseStatus { Ok, TooFewArguments, Help, Version, BadOption };

// An argument starting with "--" is an option ("--" alone ends them), every
// other one positional. The positionals convert as the command line has always
// done: base-10 strtol truncated to 32 bits, strtod for the frame rate, nothing
// refused (what reads differently from what was typed is listed in warnings); no INPUT, or an INPUT with a WIDTH but no HEIGHT, is too few.
// Options are checked: --input-format raw|y4m|libav, --fps R (positive),
// --frames N and --start S (0 .. 2147483647), --threads N (1 .. 1024),
// --run-start S, --reference, --log FILE, --no-log, --help, --version; an
// option that repeats a positional with another value is a BadOption, and so
// is a second input where WIDTH belongs (several inputs).
ParseStatus parseArguments(int argc, char** argv, Arguments* out);

// The two usage lines written when too few arguments are given; a null
// programName (a program started without argv[0]) reads "lumaqc".
std::string usageText(const char* programName);

// The line of --version.
std::string versionText();

// The text of --help.
std::string helpText(const char* programName);

// Checks the sizes and the start frame the analysis can work with; returns an
// empty string when they are fine, else a one-line message naming the argument.
std::string checkArguments(const Arguments& args);

// Luma bytes per frame and distance between frame starts (w * h * 3 / 2).
// Valid once checkArguments has passed.
int32_t lumaSize(const Arguments& args);
int32_t frameSize(const Arguments& args);

}  // namespace lumaqc
