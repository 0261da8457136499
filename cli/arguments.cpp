#include "arguments.hpp"

#include "commandOptions.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "lumaqc/lumaqc.h"

namespace lumaqc {

static int32_t toInt32(const char* name, const char* text, std::vector<std::string>* warnings) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    const bool outOfRange = errno == ERANGE || value < INT32_MIN || value > INT32_MAX;
    // The long result keeps its low 32 bits.
    const auto result = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
    const std::string typed = std::string(name) + " '" + text + "'";
    if (end == text)
        warnings->push_back(typed + " is not a number: it is read as 0");
    else if (outOfRange)
        warnings->push_back(typed + " lies outside 32 bits: it is read as " + std::to_string(result));
    else if (*end != '\0')
        warnings->push_back(typed + " has text after the number: it is read as " + std::to_string(result));
    return result;
}

static std::string shortest(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

static double toRate(const char* text, std::vector<std::string>* warnings) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    const std::string typed = std::string("FPS '") + text + "'";
    std::string read;
    if (end == text)
        read = typed + " is not a number: it is read as 0";
    else if (*end != '\0')
        read = typed + " has text after the number: it is read as " + shortest(value);
    // The freezing flag compares the frozen frames so far with fps / 10.
    if (std::isnan(value) || value == HUGE_VAL)
        warnings->push_back((read.empty() ? typed + " is not a finite number" : read) +
                            ", with which the freezing flag is never set");
    else if (value <= 0)
        warnings->push_back((read.empty() ? typed + " is not a positive number" : read) +
                            ", which sets the freezing flag on every frame after the first");
    else if (!read.empty())
        warnings->push_back(read);
    return value;
}

// A whole base-10 number in [0, INT32_MAX].
static bool parseCount(const std::string& text, int32_t* value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

static bool parseRate(const std::string& text, double* value) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v <= 0) return false;
    *value = v;
    return true;
}

// Whether a positional in WIDTH's place is a second input rather than a size:
// it names an existing file, or (with nothing after it) reads as no number.
static bool isSecondInput(const std::vector<const char*>& positional) {
    const char* second = positional[1];
    char* end = nullptr;
    std::strtol(second, &end, 10);
    const bool number = end != second;
    struct stat st {};
    return (!number && ::stat(second, &st) == 0) || (positional.size() == 2 && !number);
}

static ParseStatus bad(Arguments* out, const std::string& message) {
    out->error = message;
    return ParseStatus::BadOption;
}

ParseStatus parseArguments(int argc, char** argv, Arguments* out) {
    std::vector<const char*> positional;
    std::string format;
    bool fpsOption = false, framesOption = false, startOption = false;
    double fps = 0;
    int32_t frames = 0, start = 0;
    bool optionsEnded = false;
    bool reference = false, noLog = false;
    std::string logPath;
    int32_t threads = -1, runStart = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.compare(0, 2, "--") != 0) {
            positional.push_back(argv[i]);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--help") return ParseStatus::Help;
        if (word == "--version") return ParseStatus::Version;
        if (word == "--reference" || word == "--no-log") {
            (word == "--reference" ? reference : noLog) = true;
            continue;
        }
        // --name value, or --name=value
        const std::string name = optionName(word);
        if (const report::OptionSpec* option = report::findOption(kInputOptions, name);
            option == nullptr || !option->takesValue)
            return bad(out, "Unknown option " + name + " (see --help)");
        std::string value;
        if (!optionValue(word, argc, argv, &i, &value)) return bad(out, "Option " + name + " needs a value");
        if (name == "--input-format") {
            if (value != "raw" && value != "y4m" && value != "libav")
                return bad(out, "--input-format must be raw, y4m or libav, not '" + value + "'");
            format = value;
        } else if (name == "--log") {
            if (value.empty() || value == "-") return bad(out, "--log needs a file name");
            logPath = value;
        } else if (name == "--threads") {
            if (!parseCount(value, &threads) || threads < 1 || threads > 1024)
                return bad(out, "--threads needs a whole number from 1 to 1024, not '" + value + "'");
        } else if (name == "--run-start") {
            if (!parseCount(value, &runStart))
                return bad(out, "--run-start needs a whole number from 0 to 2147483647, not '" + value + "'");
        } else if (name == "--fps") {
            if (!parseRate(value, &fps)) return bad(out, "--fps needs a positive number, not '" + value + "'");
            fpsOption = true;
        } else if (!parseCount(value, name == "--frames" ? &frames : &start)) {
            return bad(out, name + " needs a whole number from 0 to 2147483647, not '" + value + "'");
        } else {
            (name == "--frames" ? framesOption : startOption) = true;
        }
    }
    const size_t given = positional.size();
    if (given >= 2 && isSecondInput(positional))
        return bad(out, std::string(positional[0]) + ", " + positional[1] + (given > 2 ? ", ..." : "") +
                            ": for several inputs use --json-dir or lumaqc check");
    if (given == 0 || given == 2) return ParseStatus::TooFewArguments;
    if (noLog && !logPath.empty()) return bad(out, "--log and --no-log cannot be given together");
    Arguments a;
    a.videoPath = positional[0];
    a.inputFormat = format;
    a.threads = threads;
    a.runStart = runStart;
    a.reference = reference;
    a.logPath = logPath;
    a.noLog = noLog;
    if (given >= 3) {
        a.sizeGiven = true;
        a.width = toInt32("WIDTH", positional[1], &a.warnings);
        a.height = toInt32("HEIGHT", positional[2], &a.warnings);
        a.widthText = positional[1];
        a.heightText = positional[2];
    }
    if (given >= 4) {
        a.fps = toRate(positional[3], &a.warnings);
        a.fpsGiven = true;
    }
    if (given >= 5) {
        a.framesFromFile = false;
        a.frames = toInt32("NumberOfFrames", positional[4], &a.warnings);
    }
    if (given >= 6) {
        a.startFrame = toInt32("startFrame", positional[5], &a.warnings);
        a.startText = positional[5];
    }
    // An option may repeat a positional value, not contradict it.
    if (fpsOption) {
        if (a.fpsGiven && a.fps != fps) return bad(out, "The frame rate is given twice, as FPS and as --fps, differently");
        a.fps = fps;
        a.fpsGiven = true;
    }
    if (framesOption) {
        if (!a.framesFromFile && a.frames != frames)
            return bad(out, "The frame count is given twice, as NumberOfFrames and as --frames, differently");
        a.frames = frames;
        a.framesFromFile = false;
    }
    if (startOption) {
        if (given >= 6 && a.startFrame != start)
            return bad(out, "The start frame is given twice, as startFrame and as --start, differently");
        a.startFrame = start;
    }
    *out = a;
    return ParseStatus::Ok;
}

std::string usageText(const char* programName) {
    std::string text = "Not enough parameters\n\n";
    text += "Usage : ";
    // A program started with an empty argument vector has no name (argc 0,
    // argv[0] null).
    text += programName != nullptr ? programName : "lumaqc";
    text += " nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n"
            ", where [***] is optional parameter.\n\n";
    return text;
}

std::string versionText() {
    std::string text = "lumaqc " LUMAQC_VERSION_STRING;
    // The library a program runs with may be a later one than it was built with.
    if (std::strcmp(lumaqc_version_string(), LUMAQC_VERSION_STRING) != 0)
        text += std::string(" (library ") + lumaqc_version_string() + ")";
    return text + "\n";
}

std::string helpText(const char* programName) {
    const std::string p = programName;
    return "Usage: " + p + " [OPTIONS] INPUT [WIDTH HEIGHT [FPS [NumberOfFrames [startFrame]]]]\n"
           "       " + p + " check INPUT... [--profile NAME|FILE] [--waivers FILE]   (PASS or FAIL per input;\n"
           "                     see " + p + " check --help)\n"
           "       " + p + " diff OLD.json NEW.json [--fail-if 'new.count>0']   (events resolved, new and\n"
           "                     persisting between two reports; see " + p + " diff --help)\n\n"
           "INPUT is a file, or - for standard input. Its kind is found from its content:\n"
           "  a Y4M file or stream (it begins with YUV4MPEG2), read by the Y4M reader;\n"
           "  with WIDTH HEIGHT given, raw 8-bit YUV 4:2:0 frames of that size;\n"
           "  else any container and codec that FFmpeg's libraries read (mp4, mkv, ts, ...).\n\n"
           "Options:\n"
           "  --input-format raw|y4m|libav   read the input as this kind\n"
           "  --fps R            frame rate (default: the Y4M header or container, else 25)\n"
           "  --frames N         frames to analyse (default: every frame)\n"
           "  --start S          first frame to analyse, counted from 0 (default 0)\n"
           "  --threads N        frames analysed at once (default: every processor available;\n"
           "                     1 analyses frame after frame); the output is the same for every N\n"
           "  --run-start S      this run is a piece of a longer run that starts at frame S: the\n"
           "                     piece starts at S or at S + 8k + 1, and its rows equal that run's\n"
           "  --reference        run the literal step-by-step indicators (same values, slower)\n"
           "  --log FILE         write the log to FILE (default: metricsResultsCSV.csv here)\n"
           "  --no-log           write no log\n"
           "  --help             this text\n"
           "  --version          the version of lumaqc\n"
           "  --                 every argument after it is positional\n\n"
           "Examples:\n"
           "  " + p + " clip.mp4\n"
           "  " + p + " clip.y4m --start 100 --frames 50\n"
           "  ffmpeg -i clip.mkv -f yuv4mpegpipe - | " + p + " -\n"
           "  cat clip.yuv | " + p + " - 1920 1080\n"
           "  " + p + " clip.yuv 1920 1080 50 250 1000\n";
}

std::string checkArguments(const Arguments& args) {
    if (args.width <= 0) return "Invalid WIDTH " + std::to_string(args.width) + ": it must be a positive integer";
    if (args.height <= 0)
        return "Invalid HEIGHT " + std::to_string(args.height) + ": it must be a positive integer";
    // w * h * 3 must fit 32 bits. The product of two 32-bit sizes fits 64 bits,
    // three times it need not: compare w * h with a third of the limit.
    const int64_t pixels = static_cast<int64_t>(args.width) * args.height;
    if (pixels > INT32_MAX / 3)
        return "WIDTH x HEIGHT " + std::to_string(args.width) + " x " + std::to_string(args.height) +
               " is too large: at most 715827882 pixels per frame are supported";
    if (args.startFrame < 0)
        return "Invalid startFrame " + std::to_string(args.startFrame) + ": it must not be negative";
    return {};
}

int32_t lumaSize(const Arguments& args) { return args.width * args.height; }

int32_t frameSize(const Arguments& args) { return args.width * args.height * 3 / 2; }

}  // namespace lumaqc
