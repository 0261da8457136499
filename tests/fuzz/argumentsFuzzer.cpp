// Fuzzing the command line. The input is an argument vector: its words are
// separated by NUL bytes, the first word is the program name, an empty input
// is a vector without any word (argc 0). Every vector goes through
// splitCommandLine (the "--" report options), parseArguments, checkArguments
// and the sizes derived from them, and, when the picture is small enough to
// analyse quickly, through the whole start-up path and frame loop of the
// analyser (runAnalyser) in a private working directory. Any sanitizer report
// (the build makes every one fatal) or broken rule below is a crash.
//
// Nothing reaches the file system as given: every '/' of every word becomes
// '_' (and so does every line break, which a message quoting the word would
// carry along), so the report files the options name are created in the private
// directory (and removed after each run); the video path, the first
// positional argument, stays empty if it is (a file that cannot be opened)
// and otherwise (also "-", standard input) names the harness's own "clip.yuv", whose length is the path
// read as a number, modulo 2048. No vector opens a device or a file elsewhere.
//
// Rules checked besides the sanitizers:
//  - after checkArguments passes, lumaSize and frameSize equal w * h and
//    w * h * 3 / 2 computed in 64 bits;
//  - too few arguments: status 255 and the usage on standard output; --help:
//    status 0; neither touches the log or writes to the error stream;
//  - a rejected vector (a bad option, an empty path, a size checkArguments
//    refuses) exits with -1 (status 255), leaves the log of an earlier run as
//    it was, and says why in exactly one line on the error stream;
//  - any other run exits with 0, 1 (a --fail-if gate) or -1 (refused before
//    the log, e.g. an input that is not what --input-format says: then the
//    log is untouched and the error one line; or a report that could not be
//    written: then the log is there); a log that is written starts with the
//    header, and at most two lines go to the error stream.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analyser.hpp"
#include "arguments.hpp"
#include "commandOptions.hpp"
#include "report/frameRows.hpp"
#include "lumaqc/lumaqc.h"
#include "report.hpp"

using namespace lumaqc;

namespace {

// Larger pictures are parsed and checked, but not analysed: the frame loop
// would allocate and compute for too long per input.
constexpr int64_t kMaxAnalysedPixels = 1 << 14;
const char kClip[] = "clip.yuv";
const char kEarlierLog[] = "results of an earlier run\n";
std::string privateDir;
int startDirFd = -1;

[[noreturn]] void fail(const std::string& what, const std::vector<std::string>& words) {
    std::string vector;
    for (const std::string& w : words) vector += " [" + w + "]";
    std::fprintf(stderr, "argumentsFuzzer: %s\n  argv:%s\n", what.c_str(), vector.c_str());
    std::abort();
}

std::string readAll(const char* path) {
    std::string text;
    if (FILE* f = std::fopen(path, "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
        std::fclose(f);
    }
    return text;
}

void writeAll(const char* path, const std::string& bytes) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// The clip of the given length: a fixed pattern, so that the pictures vary.
void prepareClip(size_t length) {
    static size_t current = SIZE_MAX;
    if (length == current) return;
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 37 + (i >> 7) * 11) & 0xff);
    writeAll((privateDir + "/" + kClip).c_str(), bytes);
    current = length;
}

// Removes what a run left in the private directory besides the clip: the
// log and the report files the options named.
void removeReports() {
    DIR* dir = ::opendir(privateDir.c_str());
    if (dir == nullptr) std::abort();
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && name != kClip) names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) ::unlink((privateDir + "/" + name).c_str());
}

size_t countLines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

}  // namespace

// The program writes its log into the working directory, so each run goes
// into a private directory and comes back. A crash inside it is saved by
// libFuzzer relative to the working directory of that moment: unless an
// absolute -artifact_prefix is given, one naming the directory the harness
// was started in is added.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::string startDir;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) std::abort();
    startDir = cwd;
    static std::vector<std::string> storage;
    static std::vector<char*> rewritten;
    bool hasPrefix = false;
    for (int i = 0; i < *argc; ++i) {
        std::string arg = (*argv)[i];
        const std::string flag = "-artifact_prefix=";
        if (arg.compare(0, flag.size(), flag) == 0) {
            hasPrefix = true;
            if (arg.size() > flag.size() && arg[flag.size()] != '/')
                arg = flag + startDir + "/" + arg.substr(flag.size());
        }
        storage.push_back(arg);
    }
    if (!hasPrefix) storage.push_back("-artifact_prefix=" + startDir + "/");
    for (std::string& arg : storage) rewritten.push_back(arg.data());
    rewritten.push_back(nullptr);
    *argc = static_cast<int>(storage.size());
    *argv = rewritten.data();

    char dir[] = "/tmp/lumaqc-fuzz-arguments-XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    privateDir = dir;
    std::atexit([] {
        removeReports();
        std::remove((privateDir + "/" + kClip).c_str());
        ::rmdir(privateDir.c_str());
    });
    startDirFd = ::open(".", O_RDONLY | O_DIRECTORY);
    if (startDirFd < 0) std::abort();
    // The console rows are not needed.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    if (size > 0) {
        std::string current;
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                words.push_back(current);
                current.clear();
            } else {
                // No path out of the private directory; no line break for the
                // messages that quote a word to carry along.
                current.push_back(data[i] == '/' || data[i] == '\n' ? '_' : static_cast<char>(data[i]));
            }
        }
        words.push_back(current);
    }
    std::vector<char*> argv;
    auto makeArgv = [&] {
        argv.clear();
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
    };
    makeArgv();
    const int argc = static_cast<int>(words.size());

    // The report options first and then the others, as the program does;
    // the video path is the first positional word.
    CommandLine line;
    const std::string badOption = splitCommandLine(argc, argv.data(), &line);
    bool rejected = true;   // must end with 255, one line, the log untouched
    bool noAnalysis = false;  // --help or too few arguments: nothing on the error stream
    bool help = false;
    bool badSize = false;   // checkArguments refuses the given size
    bool noLog = false;     // --no-log: no log at all
    std::string ownLog;     // --log FILE: the log goes there (a name in the private directory)
    if (!badOption.empty()) {
        if (badOption.find('\n') != std::string::npos) fail("multi-line option message: " + badOption, words);
    } else {
        Arguments args;
        ParseStatus status = parseArguments(static_cast<int>(line.positional.size()), line.positional.data(), &args);
        if (status == ParseStatus::Ok && args.videoPath[0] != '\0') {
            size_t index = 1;
            while (index < words.size() && argv[index] != args.videoPath) ++index;
            if (index == words.size()) fail("the video path is none of the words", words);
            prepareClip(static_cast<size_t>(std::strtoull(words[index].c_str(), nullptr, 10) % 2048));
            words[index] = kClip;
            makeArgv();
            line = CommandLine{};
            if (!splitCommandLine(argc, argv.data(), &line).empty()) fail("the clip's name made a bad option", words);
            args = Arguments{};
            status = parseArguments(static_cast<int>(line.positional.size()), line.positional.data(), &args);
            if (status != ParseStatus::Ok) fail("the clip's name changed the parse", words);
        }
        switch (status) {
            case ParseStatus::TooFewArguments:
                noAnalysis = true;
                break;
            case ParseStatus::Help:
            case ParseStatus::Version: noAnalysis = help = true; break;
            case ParseStatus::BadOption:
                if (args.error.empty() || args.error.find('\n') != std::string::npos)
                    fail("BadOption with the message [" + args.error + "]", words);
                break;
            case ParseStatus::Ok: {
                rejected = args.videoPath[0] == '\0';
                noLog = args.noLog;
                if (args.logPath != kLogFileName) ownLog = args.logPath;
                if (!args.sizeGiven) break;
                const std::string problem = checkArguments(args);
                if (!problem.empty()) {
                    badSize = true;
                    if (problem.find('\n') != std::string::npos) fail("multi-line size message: " + problem, words);
                    break;
                }
                const int64_t pixels = static_cast<int64_t>(args.width) * args.height;
                if (args.width <= 0 || args.height <= 0 || args.startFrame < 0 || pixels > INT32_MAX / 3)
                    fail("checkArguments accepted " + std::to_string(args.width) + " x " +
                             std::to_string(args.height) + " from " + std::to_string(args.startFrame),
                         words);
                if (lumaSize(args) != pixels) fail("lumaSize differs from w * h", words);
                if (frameSize(args) != pixels * 3 / 2) fail("frameSize differs from w * h * 3 / 2", words);
                if (pixels > kMaxAnalysedPixels) return 0;
                break;
            }
        }
    }

    // The whole program, with the log of an earlier run in place, standard
    // output kept (a report on standard output moves it) and the error
    // stream collected.
    const std::string logPath = privateDir + "/" + kLogFileName;
    writeAll(logPath.c_str(), kEarlierLog);
    char* errorText = nullptr;
    size_t errorSize = 0;
    FILE* errorStream = ::open_memstream(&errorText, &errorSize);
    if (errorStream == nullptr) std::abort();
    FILE* const realStderr = stderr;
    stderr = errorStream;
    std::fflush(stdout);
    const int keptStdout = ::dup(STDOUT_FILENO);
    if (keptStdout < 0 || ::chdir(privateDir.c_str()) != 0) std::abort();
    const int exitStatus = runAnalyser(argc, argv.data(), LUMAQC_INDICATORS_FAST);
    if (::fchdir(startDirFd) != 0) std::abort();
    std::fflush(stdout);
    if (::dup2(keptStdout, STDOUT_FILENO) < 0) std::abort();
    ::close(keptStdout);
    stderr = realStderr;
    std::fclose(errorStream);
    const std::string errors(errorText, errorSize);
    std::free(errorText);
    const std::string log = readAll(logPath.c_str());
    const std::string ownLogText = ownLog.empty() ? "" : readAll((privateDir + "/" + ownLog).c_str());
    removeReports();

    const bool logKept = log == kEarlierLog;
    const char* header = headerText(RowStyle::Log);
    const bool logWritten = log.compare(0, std::strlen(header), header) == 0;
    // Warnings about arguments that read differently come first and do not
    // count as the error line.
    std::string problems;
    for (size_t at = 0; at < errors.size();) {
        const size_t end = std::min(errors.find('\n', at), errors.size() - 1) + 1;
        if (errors.compare(at, 9, "Warning: ") != 0) problems += errors.substr(at, end - at);
        at = end;
    }
    const bool oneLine = countLines(problems) == 1 && problems.back() == '\n';
    if (noAnalysis) {
        if (exitStatus != (help ? 0 : -1)) fail("usage or help exited with " + std::to_string(exitStatus), words);
        if (!logKept || !errors.empty()) fail("usage or help touched the log or the error stream", words);
    } else if (rejected || badSize) {
        if (exitStatus != -1) fail("a rejected vector exited with " + std::to_string(exitStatus), words);
        if (!logKept) fail("a rejected vector changed the log", words);
        if (!oneLine) fail("a rejection is not one line on the error stream: [" + errors + "]", words);
    } else {
        if (exitStatus != 0 && exitStatus != 1 && exitStatus != -1)
            fail("a run exited with " + std::to_string(exitStatus) + ": " + errors, words);
        if (noLog || !ownLog.empty()) {
            // The log goes elsewhere or nowhere: the earlier one stays, and a run
            // that ends normally wrote its own from the header on.
            if (!logKept) fail("a run with --log FILE or --no-log changed the log in place", words);
            if (!ownLog.empty() && exitStatus != -1 && ownLogText.compare(0, std::strlen(header), header) != 0)
                fail("the log named by --log does not start with the header", words);
            if (countLines(problems) > 2) fail("more than two lines on the error stream: " + errors, words);
        } else if (exitStatus == -1 && logKept) {
            if (!oneLine) fail("a run refused before the log is not one line: [" + errors + "]", words);
        } else {
            if (!logWritten) fail("the log does not start with the header", words);
            if (countLines(problems) > 2) fail("more than two lines on the error stream: " + errors, words);
        }
    }
    return 0;
}
