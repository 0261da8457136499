#include "batch.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "analyser.hpp"
#include "arguments.hpp"
#include "commandOptions.hpp"
#include "lumaqc/lumaqc.h"
#include "outputs.hpp"
#include "pieces.hpp"
#include "report.hpp"
#include "report/numbers.hpp"
#include "report/segments.hpp"

namespace lumaqc {

namespace {

// The options of many inputs themselves, each with a value.
constexpr std::string_view kBatchOptions[] = {"--json-dir", "--csv-dir", "--list", "--size", "--threads"};
// Those that make a command line one of many inputs.
constexpr std::string_view kBatchMarkers[] = {"--json-dir", "--csv-dir", "--list"};

struct Batch {
    std::string jsonDir, csvDir;
    std::vector<std::string> inputs;
    std::vector<std::string> passed;  // options for every run
    std::string width, height;        // --size WxH for raw inputs
    int threads = 0;
};

struct Job {
    std::string input, name, workDir;
    int status = -1;  // -1: not run
    int64_t frames = 0;
    std::string lastError;  // the last line of the run's error stream
    double seconds = 0.0;   // the run's wall-clock time
    std::array<size_t, report::kSegmentKindCount> events{};  // per kind, waived and at the edges included
    std::vector<std::string> warnings;                      // the reader's
};

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const report::OptionSpec* runOption(std::string_view name) {
    if (const report::OptionSpec* option = report::findOption(report::kReportOptions, name)) return option;
    return report::findOption(kInputOptions, name);
}

// --size WxH: two whole numbers that make a picture one run accepts.
std::string parseSize(const std::string& value, Batch* b) {
    const size_t x = value.find('x');
    const std::string width = value.substr(0, x), height = x == std::string::npos ? "" : value.substr(x + 1);
    Arguments size;
    for (auto [text, number] : {std::pair{&width, &size.width}, std::pair{&height, &size.height}}) {
        if (text->empty() || text->size() > 10 || text->find_first_not_of("0123456789") != std::string::npos)
            return "--size needs WIDTHxHEIGHT, not '" + value + "'";
        const long long read = std::strtoll(text->c_str(), nullptr, 10);
        if (read < 1 || read > INT32_MAX) return "--size needs WIDTHxHEIGHT, not '" + value + "'";
        *number = static_cast<int32_t>(read);
    }
    if (const std::string error = checkArguments(size); !error.empty()) return "--size " + value + ": " + error;
    b->width = width;
    b->height = height;
    return "";
}

std::string parse(int argc, char** argv, Batch* b) {
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--") {
            for (++i; i < argc; ++i) b->inputs.push_back(argv[i]);
            break;
        }
        if (word.rfind("--", 0) != 0) {
            b->inputs.push_back(word);
            continue;
        }
        const std::string name = optionName(word);
        const bool own = std::find(std::begin(kBatchOptions), std::end(kBatchOptions), name) != std::end(kBatchOptions);
        const report::OptionSpec* option = own ? nullptr : runOption(name);
        // Every run is quiet and shows no progress.
        if (option != nullptr && option->scope == report::OptionScope::Console) continue;
        const bool shared = option != nullptr && option->scope == report::OptionScope::EachInput;
        if (shared && !option->takesValue && name == word) {
            b->passed.push_back(word);
            continue;
        }
        if (!own && !(shared && option->takesValue))
            return "Unknown option " + name + " with several inputs (reports go to --json-dir and --csv-dir)";
        std::string value;
        if (!optionValue(word, argc, argv, &i, &value)) return "Option " + name + " needs a value";
        if (name == "--json-dir") {
            b->jsonDir = value;
        } else if (name == "--csv-dir") {
            b->csvDir = value;
        } else if (name == "--size") {
            if (const std::string error = parseSize(value, b); !error.empty()) return error;
        } else if (name == "--threads") {
            b->threads = std::atoi(value.c_str());
            if (b->threads < 1 || b->threads > 1024 || value.find_first_not_of("0123456789") != std::string::npos)
                return "--threads needs a whole number from 1 to 1024, not '" + value + "'";
        } else if (name == "--list") {
            std::ifstream list(value);
            if (!list) return "Cannot read the list " + value + ": " + std::strerror(errno);
            for (std::string line; std::getline(list, line);) {
                // A list written on Windows ends its lines with CR LF.
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty() && line[0] != '#') b->inputs.push_back(line);
            }
        } else {
            b->passed.push_back(name);
            b->passed.push_back(value);
        }
    }
    if (b->inputs.empty()) return "No input given";
    if (b->jsonDir.empty() && b->csvDir.empty()) return "Several inputs need --json-dir or --csv-dir for their reports";
    return "";
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::string> reportNames(const std::vector<std::string>& inputs) {
    // Every base name is reserved up front, so a numbered name never meets a later literal one.
    std::set<std::string> taken;
    for (const std::string& input : inputs) taken.insert(baseName(input));
    std::set<std::string> first;
    std::map<std::string, int> counter;
    std::vector<std::string> names;
    for (const std::string& input : inputs) {
        const std::string base = baseName(input);
        if (first.insert(base).second) {
            names.push_back(base);
            continue;
        }
        std::string name;
        int& n = counter.try_emplace(base, 1).first->second;
        do name = base + "." + std::to_string(++n);
        while (!taken.insert(name).second);
        names.push_back(name);
    }
    return names;
}

namespace {

std::string lastLine(const std::string& text) {
    std::string last;
    size_t from = 0;
    while (from < text.size()) {
        const size_t end = std::min(text.find('\n', from), text.size());
        if (end > from) last = text.substr(from, end - from);
        from = end + 1;
    }
    return last;
}

// The command line of one input's run: its share of the threads, its reports
// in the output folders, the options given for every input.
std::vector<std::string> runArguments(const Batch& b, const Job& job, int threads) {
    std::vector<std::string> args = {"lumaqc", "--threads", std::to_string(threads), "--quiet", "--no-progress"};
    args.insert(args.end(), b.passed.begin(), b.passed.end());
    if (!b.jsonDir.empty()) {
        args.push_back("--json");
        args.push_back(b.jsonDir + "/" + job.name + ".json");
    }
    if (!b.csvDir.empty()) {
        args.push_back("--csv");
        args.push_back(b.csvDir + "/" + job.name + ".csv");
    }
    args.push_back("--");
    args.push_back(job.input);
    if (!b.width.empty()) {
        args.push_back(b.width);
        args.push_back(b.height);
    }
    return args;
}

// One input's run, in this process: its console text and its log go to a
// folder of its own, its error stream is kept for the summary.
void analyse(const Batch& b, Job& job, int threads) {
    std::vector<std::string> args = runArguments(b, job, threads);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char* errorText = nullptr;
    size_t errorLength = 0;
    std::FILE* console = std::fopen((job.workDir + "/console.txt").c_str(), "we");
    std::FILE* error = open_memstream(&errorText, &errorLength);
    const int folder = ::open(job.workDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto started = std::chrono::steady_clock::now();
    if (console != nullptr && error != nullptr && folder >= 0) {
        RunStreams streams;
        streams.console = console;
        streams.error = error;
        streams.logFolder = folder;
        streams.ownProcess = false;
        const RunOutcome outcome =
            runAnalysis(static_cast<int>(args.size()), argv.data(), LUMAQC_INDICATORS_FAST, streams);
        job.status = outcome.status & 0xff;
        job.frames = outcome.frames;
        for (const auto* group : {&outcome.events, &outcome.waived, &outcome.atEdges})
            for (const report::Segment& s : *group) ++job.events[static_cast<size_t>(s.kind)];
        job.warnings = outcome.warnings;
    } else {
        job.status = 255;
    }
    job.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (folder >= 0) ::close(folder);
    if (console != nullptr) std::fclose(console);
    if (error != nullptr) {
        std::fclose(error);
        job.lastError = lastLine(std::string(errorText, errorLength));
    }
    std::free(errorText);
}

// An absolute path, so that the reports name each input alike wherever it was given from.
std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/' || path == "-") return path;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}


// The line of an input that finished: "PASS /a.yuv: 60 frames, 850 frames/s, events: black 1",
// FAIL when a gate tripped, "ERROR /b.yuv: why", "STOPPED /c.yuv: 20 frames".
std::string finishedLine(const Job& job, int stopper) {
    const std::string input = report::terminalText(job.input);
    const bool stopped = stopper != 0 && job.status == 128 + stopper;
    if (stopped) return format("STOPPED %s: %lld frames\n", input.c_str(), static_cast<long long>(job.frames));
    if (job.status != 0 && job.status != 1) {
        const std::string why = job.lastError.empty() ? "exit status " + std::to_string(job.status) : job.lastError;
        return "ERROR " + input + ": " + report::terminalText(why) + "\n";
    }
    std::string events;
    for (size_t k = 0; k < job.events.size(); ++k)
        if (job.events[k] > 0)
            events += format("%s%s %zu", events.empty() ? "" : ", ",
                             report::segmentKindName(static_cast<report::SegmentKind>(k)), job.events[k]);
    const double speed = job.seconds > 0.0 ? static_cast<double>(job.frames) / job.seconds : 0.0;
    return format("%s %s: %lld frames, %.4g frames/s, %s%s\n", job.status == 0 ? "PASS" : "FAIL", input.c_str(),
                  static_cast<long long>(job.frames), speed, events.empty() ? "no events" : "events: ",
                  events.c_str());
}

}  // namespace

bool isBatchCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return false;
        for (std::string_view name : kBatchMarkers)
            if (optionName(word) == name) return true;
    }
    return false;
}

int runBatch(int argc, char** argv) {
    Batch b;
    if (const std::string error = parse(argc, argv, &b); !error.empty()) {
        errorLine(stderr, "%s", error.c_str());
        return -1;
    }
    // As for one run: a stop signal ends the batch after the runs going on
    // have stopped after their current frame.
    catchStopSignals();
    b.jsonDir = absolutePath(b.jsonDir);
    b.csvDir = absolutePath(b.csvDir);
    // The output folders are made, with their parents.
    for (const std::string* dir : {&b.jsonDir, &b.csvDir}) {
        if (dir->empty()) continue;
        std::error_code made;
        std::filesystem::create_directories(*dir, made);
        if (!isDirectory(*dir)) {
            errorLine(stderr, "Cannot create the output folder %s: %s", dir->c_str(),
                      made ? made.message().c_str() : "it is not a folder");
            return -1;
        }
    }
    const int threads = b.threads > 0 ? b.threads : availableProcessors();
    // Files side by side first; the threads left over go to each file's frames.
    const int atOnce = std::max(1, std::min<int>(threads, static_cast<int>(b.inputs.size())));
    const int perRun = std::max(1, threads / atOnce);

    char tmpl[] = "/tmp/lumaqc-batch-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        errorLine(stderr, "Cannot create a working folder: %s", std::strerror(errno));
        return -1;
    }
    const std::string work = tmpl;
    std::vector<Job> jobs(b.inputs.size());
    const std::vector<std::string> names = reportNames(b.inputs);
    for (size_t k = 0; k < jobs.size(); ++k) {
        jobs[k].input = absolutePath(b.inputs[k]);
        jobs[k].name = names[k];
        jobs[k].workDir = work + "/" + std::to_string(k);
        ::mkdir(jobs[k].workDir.c_str(), 0700);
    }

    // The inputs in the order given, atOnce at a time; after a stop signal
    // none is started. A line tells of each as it finishes.
    Console console;
    std::mutex consoleLock;
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (;;) {
            if (stopSignal() != 0) return;
            const size_t k = next++;
            if (k >= jobs.size()) return;
            analyse(b, jobs[k], perRun);
            const std::lock_guard<std::mutex> hold(consoleLock);
            console.write(finishedLine(jobs[k], stopSignal()));
            console.flush();
        }
    };
    std::vector<std::thread> workers;
    for (int w = 1; w < atOnce; ++w) {
        try {
            workers.emplace_back(worker);
        } catch (const std::system_error&) {
            break;  // fewer at once
        }
    }
    worker();
    for (std::thread& t : workers) t.join();
    const int stopper = stopSignal();

    // The combined summary: one line per input, every write checked.
    bool failed = false, tripped = false;
    size_t stopped = 0, notRun = 0;
    // When inputs share a base name, a column says which report is whose.
    bool renamed = false;
    for (size_t k = 0; k < jobs.size(); ++k) renamed = renamed || jobs[k].name != baseName(b.inputs[k]);
    auto reportColumn = [&](const std::string& name) { return renamed ? format("%-24s ", name.c_str()) : std::string(); };
    console.write(format("%-40s %s%-8s %8s  %s\n", "input", reportColumn("report").c_str(), "status", "frames",
                         "gates tripped / error"));
    for (const Job& job : jobs) {
        std::string detail;
        if (job.status == 0 || job.status == 1) {
            if (!b.jsonDir.empty()) {
                std::ifstream in(b.jsonDir + "/" + job.name + ".json");
                const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
                if (!doc.is_discarded() && doc.contains("gates"))
                    for (const auto& gate : doc["gates"])
                        if (gate.value("tripped", false))
                            detail += (detail.empty() ? "" : ", ") + gate.value("expression", std::string());
            }
        } else if (job.status == -1) {
            detail = stopper != 0 ? "interrupted by " + signalName(stopper) + " before it started" : "not run";
        } else {
            detail = job.lastError;
            if (detail.empty() && stopper != 0 && job.status == 128 + stopper)
                detail = "Interrupted by " + signalName(stopper);
            if (detail.empty()) detail = "exit status " + std::to_string(job.status);
        }
        const bool stop = stopper != 0 && job.status == 128 + stopper;
        const bool skipped = stopper != 0 && job.status == -1;
        const char* state = job.status == 0 ? "ok" : job.status == 1 ? "gate" : skipped ? "not run" : stop ? "stopped" : "failed";
        stopped += stop ? 1 : 0;
        notRun += skipped ? 1 : 0;
        failed = failed || (job.status != 0 && job.status != 1 && !skipped && !stop);
        tripped = tripped || job.status == 1;
        // Names are escaped: a file name may hold line breaks or terminal controls.
        console.write(format("%-40s %s%-8s %8lld  %s\n", report::terminalText(job.input).c_str(),
                             reportColumn(report::terminalText(job.name)).c_str(), state,
                             static_cast<long long>(job.frames), report::terminalText(detail).c_str()));
    }
    for (const Job& job : jobs)
        for (const std::string& warning : job.warnings)
            console.write("warning " + report::terminalText(job.input) + ": " + report::terminalText(warning) + "\n");
    console.flush();
    std::error_code removal;
    std::filesystem::remove_all(work, removal);
    if (removal) errorLine(stderr, "Cannot remove %s", work.c_str());
    if (console.failed()) {
        errorLine(stderr, "%s", console.error().c_str());
        return -1;
    }
    if (stopped + notRun > 0) {
        errorLine(stderr, "Interrupted by %s: %zu of %zu inputs analysed, %zu stopped, %zu not run",
                     signalName(stopper).c_str(), jobs.size() - stopped - notRun, jobs.size(), stopped, notRun);
        return 128 + stopper;
    }
    return failed ? -1 : tripped ? 1 : 0;
}

}  // namespace lumaqc
