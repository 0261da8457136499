#include "batch.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "commandOptions.hpp"
#include "outputs.hpp"
#include "pieces.hpp"

extern char** environ;

namespace lumaqc {

namespace {

// Options of one run that take a value; the batch hands them to every run.
const std::set<std::string> kValueOptions = {
    "--fps",        "--frames",     "--start",         "--input-format",  "--fail-if",   "--min-black",
    "--min-freeze", "--min-letterbox", "--min-pillarbox", "--min-interlaced", "--interlace-threshold"};
const std::set<std::string> kFlagOptions = {"--reference", "--events", "--summary"};

struct Batch {
    std::string jsonDir, csvDir;
    std::vector<std::string> inputs;
    std::vector<std::string> passed;  // options for every run
    std::string width, height;        // --size WxH for raw inputs
    int threads = 0;
};

struct Job {
    std::string input, name, workDir;
    pid_t pid = -1;
    int status = -1;  // -1: not run
};

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
        if (kFlagOptions.count(name) != 0 && name == word) {
            b->passed.push_back(word);
            continue;
        }
        if (name == "--quiet" || name == "--progress" || name == "--no-progress") continue;
        const bool own = name == "--json-dir" || name == "--csv-dir" || name == "--list" || name == "--size" ||
                         name == "--threads";
        if (!own && kValueOptions.count(name) == 0)
            return "Unknown option " + name + " with several inputs (reports go to --json-dir and --csv-dir)";
        std::string value;
        if (!optionValue(word, argc, argv, &i, &value)) return "Option " + name + " needs a value";
        if (name == "--json-dir") {
            b->jsonDir = value;
        } else if (name == "--csv-dir") {
            b->csvDir = value;
        } else if (name == "--size") {
            const size_t x = value.find('x');
            if (x == std::string::npos || value.find_first_not_of("0123456789x") != std::string::npos)
                return "--size needs WIDTHxHEIGHT, not '" + value + "'";
            b->width = value.substr(0, x);
            b->height = value.substr(x + 1);
        } else if (name == "--threads") {
            b->threads = std::atoi(value.c_str());
            if (b->threads < 1 || b->threads > 1024 || value.find_first_not_of("0123456789") != std::string::npos)
                return "--threads needs a whole number from 1 to 1024, not '" + value + "'";
        } else if (name == "--list") {
            std::ifstream list(value);
            if (!list) return "Cannot read the list " + value + ": " + std::strerror(errno);
            for (std::string line; std::getline(list, line);)
                if (!line.empty() && line[0] != '#') b->inputs.push_back(line);
        } else {
            b->passed.push_back(name);
            b->passed.push_back(value);
        }
    }
    if (b->inputs.empty()) return "No input given";
    for (const std::string* dir : {&b->jsonDir, &b->csvDir})
        if (!dir->empty() && !isDirectory(*dir)) return "The output folder " + *dir + " does not exist";
    if (b->jsonDir.empty() && b->csvDir.empty()) return "Several inputs need --json-dir or --csv-dir for their reports";
    return "";
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string lastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return last;
}

// Each run is started in a process group of its own, with the signal mask
// lumaqc had when it started: a Ctrl-C on the terminal reaches the batch
// alone, which hands it on to every run once.
pid_t start(const Batch& b, const Job& job, int threads, const sigset_t& mask) {
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
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Each run writes its log and its console text in a folder of its own.
    const std::string out = job.workDir + "/console.txt", err = job.workDir + "/errors.txt";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &mask);
    std::string self = "/proc/self/exe";
    char cwd[4096];
    // The inputs and folders were given relative to this directory.
    pid_t pid = -1;
    int failed = -1;
    if (getcwd(cwd, sizeof cwd) != nullptr && chdir(job.workDir.c_str()) == 0) {
        failed = posix_spawn(&pid, self.c_str(), &actions, &attributes, argv.data(), environ);
        if (chdir(cwd) != 0) failed = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return failed == 0 ? pid : -1;
}

// An absolute path, so that it survives the run's own working directory.
std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/' || path == "-") return path;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

// printf into a string.
__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
    va_list args, again;
    va_start(args, pattern);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), pattern, again);
    va_end(again);
    text.pop_back();
    return text;
}

void onChildEnd(int) {}

}  // namespace

bool isBatchCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return false;
        for (const char* name : {"--json-dir", "--csv-dir", "--list"})
            if (word == name || word.rfind(std::string(name) + "=", 0) == 0) return true;
    }
    return false;
}

int runBatch(int argc, char** argv) {
    Batch b;
    if (const std::string error = parse(argc, argv, &b); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return -1;
    }
    // As for one run: a stop signal ends the batch after the runs going on
    // have stopped after their current frame.
    catchStopSignals();
    b.jsonDir = absolutePath(b.jsonDir);
    b.csvDir = absolutePath(b.csvDir);
    const int threads = b.threads > 0 ? b.threads : availableProcessors();
    // Files side by side first; the threads left over go to each file's frames.
    const int atOnce = std::max(1, std::min<int>(threads, static_cast<int>(b.inputs.size())));
    const int perRun = std::max(1, threads / atOnce);

    char tmpl[] = "/tmp/lumaqc-batch-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        std::fprintf(stderr, "Cannot create a working folder: %s\n", std::strerror(errno));
        return -1;
    }
    const std::string work = tmpl;
    std::vector<Job> jobs(b.inputs.size());
    std::map<std::string, int> used;
    for (size_t k = 0; k < jobs.size(); ++k) {
        jobs[k].input = absolutePath(b.inputs[k]);
        std::string name = baseName(b.inputs[k]);
        // Inputs of the same name in different folders get numbered reports.
        if (const int seen = ++used[name]; seen > 1) name.append(".").append(std::to_string(seen));
        jobs[k].name = name;
        jobs[k].workDir = work + "/" + std::to_string(k);
        mkdir(jobs[k].workDir.c_str(), 0700);
    }

    // The end of a run and a stop signal are waited for together: both are
    // blocked but while waiting, so that neither goes unnoticed.
    struct sigaction childEnd {};
    childEnd.sa_handler = onChildEnd;
    sigemptyset(&childEnd.sa_mask);
    childEnd.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &childEnd, nullptr);
    sigset_t watched, before, waiting;
    sigemptyset(&watched);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&watched, signal);
    sigprocmask(SIG_BLOCK, &watched, &before);
    waiting = before;
    sigdelset(&waiting, SIGCHLD);

    size_t next = 0, running = 0;
    int forwarded = 0;  // the stop signal handed on to the runs
    for (;;) {
        if (forwarded == 0 && (forwarded = stopSignal()) != 0)
            for (const Job& job : jobs)
                if (job.pid > 0 && job.status == -1) kill(job.pid, forwarded);
        while (forwarded == 0 && running < static_cast<size_t>(atOnce) && next < jobs.size()) {
            jobs[next].pid = start(b, jobs[next], perRun, before);
            if (jobs[next].pid < 0) jobs[next].status = 255;
            else ++running;
            ++next;
        }
        if (running == 0) break;
        int raw = 0;
        const pid_t done = waitpid(-1, &raw, WNOHANG);
        if (done < 0) break;
        if (done == 0) {
            ppoll(nullptr, 0, nullptr, &waiting);
            continue;
        }
        for (Job& job : jobs)
            if (job.pid == done) {
                job.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                --running;
            }
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);

    // The combined summary: one line per input, every write checked.
    Console console;
    bool failed = false, tripped = false;
    size_t stopped = 0, notRun = 0;
    console.write(format("%-40s %-8s %8s  %s\n", "input", "status", "frames", "gates tripped / error"));
    for (const Job& job : jobs) {
        std::string detail;
        int64_t frames = 0;
        {
            std::ifstream log(job.workDir + "/metricsResultsCSV.csv");
            for (std::string line; std::getline(log, line);) ++frames;
            frames = std::max<int64_t>(frames - 1, 0);
        }
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
            detail = forwarded != 0 ? "interrupted by " + signalName(forwarded) + " before it started" : "not run";
        } else {
            detail = lastLine(job.workDir + "/errors.txt");
            if (detail.empty() && forwarded != 0 && job.status == 128 + forwarded)
                detail = "Interrupted by " + signalName(forwarded);
            if (detail.empty()) detail = "exit status " + std::to_string(job.status);
        }
        const bool stop = forwarded != 0 && job.status == 128 + forwarded;
        const bool skipped = forwarded != 0 && job.status == -1;
        const char* state = job.status == 0 ? "ok" : job.status == 1 ? "gate" : skipped ? "not run" : stop ? "stopped" : "failed";
        stopped += stop ? 1 : 0;
        notRun += skipped ? 1 : 0;
        failed = failed || (job.status != 0 && job.status != 1 && !skipped && !stop);
        tripped = tripped || job.status == 1;
        console.write(format("%-40s %-8s %8lld  %s\n", job.input.c_str(), state, static_cast<long long>(frames),
                             detail.c_str()));
    }
    console.flush();
    const std::string cleanup = "rm -rf '" + work + "'";
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "Cannot remove %s\n", work.c_str());
    if (console.failed()) {
        std::fprintf(stderr, "%s\n", console.error().c_str());
        return -1;
    }
    if (stopped + notRun > 0) {
        std::fprintf(stderr, "Interrupted by %s: %zu of %zu inputs analysed, %zu stopped, %zu not run\n",
                     signalName(forwarded).c_str(), jobs.size() - stopped - notRun, jobs.size(), stopped, notRun);
        return 128 + forwarded;
    }
    return failed ? -1 : tripped ? 1 : 0;
}

}  // namespace lumaqc
