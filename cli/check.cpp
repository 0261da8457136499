#include "check.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analyser.hpp"
#include "arguments.hpp"
#include "commandOptions.hpp"
#include "lumaqc/lumaqc.h"
#include "outputs.hpp"
#include "pieces.hpp"
#include "report/profiles.hpp"
#include "report.hpp"
#include "report/numbers.hpp"
#include "report/timecode.hpp"
#include "report/verdict.hpp"

namespace lumaqc {

namespace {

constexpr const char* kDefaultProfile = "broadcast";

struct Check {
    std::vector<std::string> inputs;
    std::vector<std::string> passed;  // options for every run
    std::string width, height;        // --size WxH
    std::string profile = kDefaultProfile;
    std::string threads;
    std::string html;  // --html FILE: the review page of the one input
    bool help = false;
};

const char* const kCheckUsage =
    "Usage: lumaqc check INPUT... [--profile NAME|FILE] [--waivers FILE] [--size WxH] [OPTIONS]\n\n"
    "A verdict per input, PASS or FAIL, from the profile's thresholds and gates (default: broadcast;\n"
    "built in: archive, broadcast, streaming); no log, no rows. Exit status 0 when every input\n"
    "passes, 1 when one fails, 255 when one cannot be analysed.\n"
    "  --profile NAME|FILE   a built-in profile or a profile file\n"
    "  --waivers FILE        events marked as intended: [{\"type\": \"black\", \"first\": 0, \"last\": 24}]\n"
    "  --size WxH            the picture size of raw inputs\n"
    "  --threads N           frames analysed at once\n"
    "  --html FILE           the review page of a single input\n"
    "The options of the input and of the segments and gates (--fps, --start, --frames, --min-black,\n"
    "--fail-if, ...) apply to every input.\n";

std::string parse(int argc, char** argv, Check* c) {
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            for (++i; i < argc; ++i) c->inputs.push_back(argv[i]);
            break;
        }
        if (word.rfind("--", 0) != 0) {
            c->inputs.push_back(word);
            continue;
        }
        const std::string name = optionName(word);
        if (name == "--help") {
            c->help = true;
            continue;
        }
        const report::OptionSpec* option = report::findOption(report::kReportOptions, name);
        if (option == nullptr) option = report::findOption(kInputOptions, name);
        const bool own = name == "--size" || name == "--profile" || name == "--threads" || name == "--html";
        // The verdict is the console's only text.
        if (option != nullptr && option->scope == report::OptionScope::Console) continue;
        if (!own && (option == nullptr || option->scope != report::OptionScope::EachInput))
            return "Unknown option " + name + " of lumaqc check (see lumaqc check --help)";
        if (!own && !option->takesValue) {
            if (name != word) return name + " takes no value";
            c->passed.push_back(word);
            continue;
        }
        std::string value;
        if (!optionValue(word, argc, argv, &i, &value)) return "Option " + name + " needs a value";
        if (name == "--profile") {
            c->profile = value;
        } else if (name == "--threads") {
            c->threads = value;
        } else if (name == "--html") {
            c->html = value;
        } else if (name == "--size") {
            const size_t x = value.find('x');
            c->width = value.substr(0, x);
            c->height = x == std::string::npos ? "" : value.substr(x + 1);
            if (c->width.empty() || c->height.empty() ||
                (c->width + c->height).find_first_not_of("0123456789") != std::string::npos)
                return "--size needs WIDTHxHEIGHT, not '" + value + "'";
        } else {
            c->passed.push_back(name);
            c->passed.push_back(value);
        }
    }
    if (c->help) return "";
    if (c->inputs.empty()) return "lumaqc check needs an input (see lumaqc check --help)";
    if (!c->html.empty() && c->inputs.size() > 1) return "lumaqc check --html takes a single input";
    return "";
}

std::vector<std::string> linesOfText(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        const size_t end = std::min(text.find('\n', from), text.size());
        if (end > from) lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

// "black 00:00:10:00-00:00:12:11 10-12.48 s (2.48 s) frames 250-311"
std::string eventText(const report::Segment& s, int64_t startFrames, report::TimecodeRate rate) {
    std::string text = report::segmentKindName(s.kind);
    for (const std::string& part :
         {std::string(" "), report::timecodeText(startFrames + s.firstFrame, rate), std::string("-"),
          report::timecodeText(startFrames + s.lastFrame, rate), std::string(" "), report::durationText(s.start, s.fps),
          std::string("-"), report::durationText(s.end, s.fps), std::string(" s ("),
          report::durationText(s.duration, s.fps), std::string(" s) frames "), std::to_string(s.firstFrame),
          std::string("-"), std::to_string(s.lastFrame)})
        text.append(part);
    return text;
}

}  // namespace

bool isCheckCommand(int argc, char** argv) { return argc >= 2 && argv[1] != nullptr && std::strcmp(argv[1], "check") == 0; }

int runCheck(int argc, char** argv) {
    Check c;
    if (const std::string error = parse(argc, argv, &c); !error.empty()) {
        errorLine(stderr, "%s", error.c_str());
        return -1;
    }
    Console console;
    if (c.help) {
        console.write(kCheckUsage);
        if (!console.flush()) {
            errorLine(stderr, "%s", console.error().c_str());
            return -1;
        }
        return 0;
    }
    // The profile and the waivers are read once before any input, so that a
    // mistake in them is one line and no analysis.
    {
        report::ReportOptions probe;
        std::string error = applyProfile(c.profile, &probe);
        for (size_t k = 0; error.empty() && k + 1 < c.passed.size(); ++k)
            if (c.passed[k] == "--waivers") error = loadWaivers(c.passed[k + 1], &probe.waivers);
        if (!error.empty()) {
            errorLine(stderr, "%s", error.c_str());
            return -1;
        }
    }
    catchStopSignals();
    size_t passedCount = 0, failedCount = 0, errorCount = 0;
    for (const std::string& input : c.inputs) {
        if (stopSignal() != 0) break;
        std::vector<std::string> args = {"lumaqc", "--quiet", "--no-progress", "--no-log", "--profile", c.profile};
        if (!c.threads.empty()) args.insert(args.end(), {"--threads", c.threads});
        if (!c.html.empty()) args.insert(args.end(), {"--html", c.html});
        args.insert(args.end(), c.passed.begin(), c.passed.end());
        args.insert(args.end(), {"--", input});
        if (!c.width.empty()) args.insert(args.end(), {c.width, c.height});
        std::vector<char*> argvRun;
        for (std::string& a : args) argvRun.push_back(a.data());
        argvRun.push_back(nullptr);

        // The run's console (gate lines) is not shown: the verdict says it all.
        char *consoleText = nullptr, *errorText = nullptr;
        size_t consoleLength = 0, errorLength = 0;
        std::FILE* runConsole = open_memstream(&consoleText, &consoleLength);
        std::FILE* runError = open_memstream(&errorText, &errorLength);
        RunOutcome outcome;
        if (runConsole != nullptr && runError != nullptr) {
            RunStreams streams;
            streams.console = runConsole;
            streams.error = runError;
            streams.ownProcess = false;
            outcome = runAnalysis(static_cast<int>(args.size()), argvRun.data(), LUMAQC_INDICATORS_FAST, streams);
        }
        if (runConsole != nullptr) std::fclose(runConsole);
        if (runError != nullptr) std::fclose(runError);
        const std::string errors = errorText != nullptr ? std::string(errorText, errorLength) : "";
        std::free(consoleText);
        std::free(errorText);

        const std::string name = report::terminalText(input);
        const int status = outcome.status & 0xff;
        if (stopSignal() != 0 && status == 128 + stopSignal()) break;
        if (!outcome.finished || (status != 0 && status != 1)) {
            ++errorCount;
            // The run's last error line says why; its warnings come before it.
            std::string why = errors;
            while (!why.empty() && why.back() == '\n') why.pop_back();
            why = why.substr(why.find_last_of('\n') == std::string::npos ? 0 : why.find_last_of('\n') + 1);
            console.write("ERROR " + name + ": " + (why.empty() ? "exit status " + std::to_string(status) : why) + "\n");
            continue;
        }
        ++(status == 0 ? passedCount : failedCount);
        char head[80];
        std::snprintf(head, sizeof head, ", %lld frames at %.5g fps)\n", static_cast<long long>(outcome.frames), outcome.fps);
        console.write(std::string(status == 0 ? "PASS " : "FAIL ") + name + " (profile " +
                      report::terminalText(outcome.profile) + head);
        // Warnings of the reader belong to the verdict: the frames they name may be wrong.
        for (const std::string& line : linesOfText(errors)) console.write("  " + line + "\n");
        const report::TimecodeRate rate = report::timecodeRate(outcome.fps);
        const int64_t startFrames =
            outcome.startTimecode.empty() ? 0 : std::max<int64_t>(0, report::timecodeFrames(outcome.startTimecode, rate));
        const std::vector<bool> kinds = report::gatedKinds(outcome.gates);
        for (const auto& [label, segments] : {std::pair{"", &outcome.events}, std::pair{"waived ", &outcome.waived},
                                              std::pair{"at an end, not gated: ", &outcome.atEdges}})
            for (const report::Segment& s : *segments)
                if (kinds[static_cast<size_t>(s.kind)]) console.write("  " + std::string(label) + eventText(s, startFrames, rate) + "\n");
        for (const report::GateResult& g : outcome.gates)
            if (g.tripped) console.write("  " + report::gatesText({g}));
        console.flush();
    }
    if (const int signal = stopSignal(); signal != 0) {
        console.flush();
        errorLine(stderr, "Interrupted by %s", signalName(signal).c_str());
        return 128 + signal;
    }
    if (c.inputs.size() > 1) {
        char closing[160];
        std::snprintf(closing, sizeof closing, "%zu inputs: %zu PASS, %zu FAIL, %zu ERROR\n", c.inputs.size(),
                      passedCount, failedCount, errorCount);
        console.write(closing);
    }
    if (!console.flush()) {
        errorLine(stderr, "%s", console.error().c_str());
        return -1;
    }
    return errorCount > 0 ? -1 : failedCount > 0 ? 1 : 0;
}

}  // namespace lumaqc
