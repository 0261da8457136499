#include "report/options.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace lumaqc::report {

static bool readNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(*value) && errno != ERANGE;
}

OptionStatus parseReportOption(const std::vector<std::string>& args, size_t& index, ReportOptions& options,
                               std::string* error) {
    if (index >= args.size()) return OptionStatus::Unknown;
    const std::string& arg = args[index];
    std::string name = arg;
    std::string inlineValue;
    bool hasInlineValue = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
        hasInlineValue = true;
    }

    const OptionSpec* option = findOption(kReportOptions, name);
    if (option == nullptr) return OptionStatus::Unknown;
    if (!option->takesValue) {
        if (hasInlineValue) {
            *error = name + " takes no value";
            return OptionStatus::Error;
        }
        if (name == "--events") options.events = true;
        else if (name == "--summary") options.summary = true;
        else if (name == "--quiet") options.quiet = true;
        else options.progress = name == "--progress" ? ProgressMode::On : ProgressMode::Off;
        ++index;
        return OptionStatus::Consumed;
    }

    std::string value = inlineValue;
    size_t used = 1;
    if (!hasInlineValue) {
        if (index + 1 >= args.size()) {
            *error = name + " needs a value";
            return OptionStatus::Error;
        }
        value = args[index + 1];
        used = 2;
    }

    if (name == "--json" || name == "--csv") {
        if (value.empty() || (!hasInlineValue && value.rfind("--", 0) == 0)) {
            *error = name + " needs a file name (or - for standard output)";
            return OptionStatus::Error;
        }
        (name == "--json" ? options.jsonPath : options.csvPath) = value;
    } else if (name == "--html") {
        if (value.empty() || value == "-" || (!hasInlineValue && value.rfind("--", 0) == 0)) {
            *error = "--html needs a file name";
            return OptionStatus::Error;
        }
        options.htmlPath = value;
    } else if (name == "--range") {
        if (!parseRange(value, &options.segments.rangeLow, &options.segments.rangeHigh)) {
            *error = "--range needs r103, nominal, full or LOW-HIGH (codes 0 to 255, LOW <= HIGH), not '" + value + "'";
            return OptionStatus::Error;
        }
        options.segments.rangeName = value;
    } else if (name == "--range-area") {
        double number = 0.0;
        if (!readNumber(value, &number) || number < 0.0 || number > 1.0) {
            *error = "--range-area needs a fraction of 0 to 1, not '" + value + "'";
            return OptionStatus::Error;
        }
        options.segments.rangeArea = number;
    } else if (name == "--edge") {
        double number = 0.0;
        if (!readNumber(value, &number) || number < 0.0) {
            *error = "--edge needs a number of seconds of 0 or more, not '" + value + "'";
            return OptionStatus::Error;
        }
        options.edgeSeconds = number;
    } else if (name == "--fail-if") {
        const auto gate = parseGate(value, error);
        if (!gate) return OptionStatus::Error;
        options.gates.push_back(*gate);
    } else {
        double number = 0.0;
        if (!readNumber(value, &number) || number < 0.0) {
            *error = name + " needs a number of 0 or more, not '" + value + "'";
            return OptionStatus::Error;
        }
        if (const SegmentSetting* setting = segmentSettingOfOption(name)) setting->field(options.segments) = number;
    }
    index += used;
    return OptionStatus::Consumed;
}

bool parseRange(const std::string& text, int* low, int* high) {
    static const struct {
        const char* name;
        int low, high;
    } kNamed[] = {{"r103", LUMAQC_RANGE_LOW, LUMAQC_RANGE_HIGH}, {"nominal", 16, 235}, {"full", 0, 255}};
    for (const auto& named : kNamed)
        if (text == named.name) {
            *low = named.low;
            *high = named.high;
            return true;
        }
    // LOW-HIGH: one to three digits each.
    const size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    int bounds[2] = {0, 0};
    const std::string parts[2] = {text.substr(0, dash), text.substr(dash + 1)};
    for (int i = 0; i < 2; ++i) {
        if (parts[i].empty() || parts[i].size() > 3) return false;
        for (char c : parts[i]) {
            if (c < '0' || c > '9') return false;
            bounds[i] = bounds[i] * 10 + (c - '0');
        }
    }
    // A high bound of 0 would leave every picture but a black one out of range.
    if (bounds[0] > bounds[1] || bounds[1] > 255 || bounds[1] == 0) return false;
    *low = bounds[0];
    *high = bounds[1];
    return true;
}

std::string checkReportOptions(const ReportOptions& options) {
    if (options.jsonPath == "-" && options.csvPath == "-")
        return "--json - and --csv - cannot both write to standard output";
    if (!options.jsonPath.empty() && options.jsonPath != "-" && options.jsonPath == options.csvPath)
        return "--json and --csv name the same file '" + options.jsonPath + "'";
    if (!options.htmlPath.empty() && (options.htmlPath == options.jsonPath || options.htmlPath == options.csvPath))
        return "--html and another report name the same file '" + options.htmlPath + "'";
    return "";
}

const char* reportOptionsUsage() {
    return "Report options:\n"
           "  --json FILE              all values, pooled statistics, segments and gates as JSON (- for stdout)\n"
           "  --csv FILE               all values as CSV (- for stdout)\n"
           "  --html FILE              one offline page: a plot per indicator, segments, pooled statistics\n"
           "  --events                 one line per black, freeze, letterbox, pillarbox, interlaced,\n"
           "                           out_of_range, flat or flash segment\n"
           "  --summary                pooled statistics and segments after the run\n"
           "  --fail-if NAME.STAT OP NUMBER   exit status 1 when it holds (repeatable), e.g. freeze.longest>=2\n"
           "  --edge SECONDS           segments in the first or last SECONDS of the run trip no gate\n"
           "  --quiet                  nothing on the console but errors and what other options ask for\n"
           "  --progress, --no-progress   progress line on stderr (default: when stderr is a terminal)\n"
           "  --min-black, --min-freeze, --min-letterbox, --min-pillarbox, --min-interlaced, --min-flat,\n"
           "  --min-flash SECONDS      shortest segment reported (defaults 0, 0.1, 0, 0, 0.1, 0.08, 0)\n"
           "  --interlace-threshold VALUE   combing share above which a frame is interlaced (default 0.0006)\n"
           "  --field-order-threshold VALUE   mean field_order beyond which an interlaced segment is tff or bff\n"
           "                           (default 0.03)\n"
           "  --min-bar PIXELS         thinnest bar of a letterbox or pillarbox (default 4)\n"
           "  --bar-change PIXELS      a bar changing by more starts a new segment (default 8)\n"
           "  --range r103|nominal|full|LOW-HIGH   legal luma range of below_range, above_range and the\n"
           "                           out_of_range segments (default r103: codes 5 to 246)\n"
           "  --range-area FRACTION    share of a frame's samples outside the range above which the frame\n"
           "                           is out of range (default 0.01)\n"
           "  --min-out-of-range SECONDS   shortest out_of_range segment reported (default 0)\n"
           "  --black-level LEVEL      a picture is black when its brightest 8x8 block mean is at most LEVEL (default 32)\n"
           "  --freeze-noise LEVEL     a picture repeats the one before when no 8x8 block mean changed by more\n"
           "                           than LEVEL grey levels (default 3.5)\n";
}

}  // namespace lumaqc::report
