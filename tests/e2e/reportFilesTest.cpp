// A report that cannot be created ends the run before any report file of an
// earlier run is emptied: those stay byte for byte, the files this run made
// are gone again, and so is nothing else (the log of an earlier run included).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "e2e/runner.hpp"

namespace {

const std::string kLog = "metricsResultsCSV.csv";

// Every entry of a folder: the bytes of a regular file, the target of a link,
// the kind of anything else (a FIFO is not read).
std::map<std::string, std::string> entriesOf(const WorkDir& dir) {
    std::map<std::string, std::string> entries;
    DIR* d = ::opendir(dir.path.c_str());
    while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == ".stdout" || name == ".stderr") continue;
        struct stat st {};
        ::lstat(dir.file(name).c_str(), &st);
        char target[4096];
        if (S_ISLNK(st.st_mode)) {
            const ssize_t n = ::readlink(dir.file(name).c_str(), target, sizeof target);
            entries[name] = "link " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else if (S_ISREG(st.st_mode)) entries[name] = readFile(dir.file(name));
        else entries[name] = "kind " + std::to_string(st.st_mode & S_IFMT);
    }
    if (d != nullptr) ::closedir(d);
    return entries;
}

bool htmlBuiltIn(const WorkDir& dir) {
    return runIn(dir, "--html page.html clip.yuv 352 288 25 1").err.find("not available") == std::string::npos;
}

}  // namespace

TEST(ReportFiles, OneThatCannotBeCreatedLeavesTheFilesOfAnEarlierRunAsTheyWere) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("clip.yuv") + "' >/dev/null"), 0);
    const bool html = htmlBuiltIn(dir);
    runShell("cd '" + dir.path + "' && rm -f page.html " + kLog + " && mkdir folder");
    const std::map<std::string, std::string> flags = {{"json", "--json"}, {"csv", "--csv"}, {"html", "--html"}};
    const std::map<std::string, std::string> names = {{"json", "A.json"}, {"csv", "B.csv"}, {"html", "C.html"}};
    struct Case {
        std::string failing;  // the report that cannot be created ("" none)
        std::string path;     // its path then
        int error;            // and the system's reason
        bool othersExisted;   // whether the other reports are there from an earlier run
    };
    std::vector<Case> cases;
    for (const char* failing : {"json", "csv", "html"})
        for (bool existed : {true, false}) {
            cases.push_back({failing, "missing/R", ENOENT, existed});
            cases.push_back({failing, "folder", EISDIR, existed});
        }
    cases.push_back({"", "", 0, true});
    for (const Case& c : cases) {
        if (!html && c.failing == "html") continue;
        runShell("cd '" + dir.path + "' && rm -f A.json B.csv C.html");
        std::string args;
        for (const auto& [report, flag] : flags) {
            if (!html && report == "html") continue;
            const bool fails = report == c.failing;
            args += flag + " " + (fails ? c.path : names.at(report)) + " ";
            if (!fails && c.othersExisted) std::ofstream(dir.file(names.at(report))) << "earlier " << report << "\n";
        }
        std::ofstream(dir.file(kLog)) << "earlier log\n";
        const auto before = entriesOf(dir);
        const std::string what = args + (c.othersExisted ? "(others existed)" : "(others new)");
        const RunResult r = runIn(dir, args + "clip.yuv 352 288 25 3");
        if (c.failing.empty()) {
            // Nothing fails: the earlier reports are replaced.
            EXPECT_EQ(r.status, 0) << what << r.err;
            for (const auto& [report, name] : names)
                if (html || report != "html") {
                    EXPECT_NE(readFile(dir.file(name)), before.at(name)) << what;
                }
            EXPECT_NE(r.log, before.at(kLog));
            continue;
        }
        EXPECT_EQ(r.status, 255) << what;
        EXPECT_EQ(r.out, "") << what;
        const std::string reason = std::string(": ") + std::strerror(c.error) + "\n";
        EXPECT_EQ(linesOf(r.err).size(), 1u) << what << r.err;
        EXPECT_NE(r.err.find(" report " + c.path + reason), std::string::npos) << what << r.err;
        // Every file as it was, no file more or less, the log included.
        EXPECT_TRUE(entriesOf(dir) == before) << what;
    }
}


TEST(ReportFiles, ReportsThatClashAreRefusedBeforeAnyFileIsTouched) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("clip.yuv") + "' >/dev/null"), 0);
    const bool html = htmlBuiltIn(dir);
    const std::string refused = "it is not a regular file";
    struct Row {
        std::string setup;     // shell words run in the folder first
        std::string options;   // before "clip.yuv 352 288 25 3" (or the input named here)
        int status;
        std::string message;   // the one line on the error stream
        bool needsHtml = false;
        bool logWritten = false;  // the run goes on: only the log changes
    };
    const std::string lockedLog = "Cannot write the log file " + kLog + ": another lumaqc run is writing it";
    const std::vector<Row> rows = {
        {"LOCK", "--json old.json --csv old.csv", 255, lockedLog},
        {"LOCK", "--json old.json --html old.html", 255, lockedLog, true},
        {"cp clip.yuv " + kLog, "--json old.json --csv old.csv INPUT=" + kLog, 255,
         "Cannot write the log file " + kLog + ": it is the input"},
        {"", "--csv " + kLog, 255, "Cannot create the report " + kLog + ": it is the log file " + kLog},
        {"", "--json ./" + kLog, 255, "Cannot create the report ./" + kLog + ": it is the log file " + kLog},
        {"ln -s " + kLog + " log.json", "--json log.json", 255,
         "Cannot create the report log.json: it is the log file " + kLog},
        {"", "--html " + kLog, 255, "Cannot create the report " + kLog + ": it is the log file " + kLog, true},
        {"", "--json old.json --csv ./old.json", 255, "--json old.json and --csv ./old.json name the same file"},
        {"", "--json new.json --csv ./new.json", 255, "--json new.json and --csv ./new.json name the same file"},
        {"ln -s old.json link.json", "--json old.json --csv link.json", 255,
         "--json old.json and --csv link.json name the same file"},
        {"ln old.csv hard.csv", "--csv old.csv --json hard.csv", 255,
         "--json hard.csv and --csv old.csv name the same file"},
        {"", "--json old.json --html ./old.json", 255, "--json old.json and --html ./old.json name the same file",
         true},
        {"", "--csv new.csv --html ./new.csv", 255, "--csv new.csv and --html ./new.csv name the same file", true},
        {"mkfifo fifo", "--json fifo", 255, "Cannot create the report fifo: " + refused},
        {"mkfifo fifo", "--json old.json --csv fifo", 255, "Cannot create the report fifo: " + refused},
        {"mkfifo fifo", "--json old.json --html fifo", 255, "Cannot create the report fifo: " + refused, true},
        {"rm " + kLog + " && mkfifo " + kLog, "--json old.json", 255,
         "Cannot write the log file " + kLog + ": " + refused},
        {"", "--json /dev/full", 255, "Cannot write the report /dev/full: No space left on device", false, true},
        {"", "--csv /dev/full", 255, "Cannot write the report /dev/full: No space left on device", false, true},
    };
    for (const Row& row : rows) {
        if (row.needsHtml && !html) continue;
        runShell("cd '" + dir.path + "' && rm -rf fifo log.json link.json hard.csv new.json new.csv " + kLog);
        for (const char* name : {"old.json", "old.csv", "old.html"})
            std::ofstream(dir.file(name)) << "earlier " << name << "\n";
        std::ofstream(dir.file(kLog)) << "earlier log\n";
        std::string input = "clip.yuv 352 288 25 3", options = row.options;
        if (const size_t at = options.find(" INPUT="); at != std::string::npos) {
            input = options.substr(at + 7) + " 352 288 25 3";
            options.resize(at);
        }
        int held = -1;
        if (row.setup == "LOCK") {
            held = ::open(dir.file(kLog).c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
        } else if (!row.setup.empty()) {
            ASSERT_EQ(runShell("cd '" + dir.path + "' && " + row.setup), 0) << row.setup;
        }
        const auto before = entriesOf(dir);
        const std::string what = row.setup + " | " + options;
        // A run that blocked would be killed: the row fails, the test goes on.
        const int status = runShell("cd '" + dir.path + "' && timeout -s KILL 30 '" LUMAQC_BINARY "' " + options +
                                    " " + input + " >/dev/null 2>.stderr");
        if (held >= 0) ::close(held);
        const std::string err = readFile(dir.file(".stderr"));
        EXPECT_EQ(status, row.status) << what << "\n" << err;
        EXPECT_EQ(linesOf(err), std::vector<std::string>{row.message}) << what;
        auto after = entriesOf(dir);
        if (row.logWritten) {
            EXPECT_NE(after[kLog], before.at(kLog)) << what;
            after[kLog] = before.at(kLog);
        }
        EXPECT_TRUE(after == before) << what;
    }
}

// /dev/stdout is the pipe standard output already is: written through, like
// "-", where any other FIFO is refused. (With a path the console shares the
// pipe, so the report is all there but not alone.)
TEST(ReportFiles, StandardOutputByItsPathIsWrittenThroughThePipe) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("clip.yuv") + "' >/dev/null"), 0);
    const bool html = htmlBuiltIn(dir);
    for (const std::string option : {"--json", "--csv", "--html"}) {
        if (option == "--html" && !html) continue;
        const auto run = [&](const std::string& target, const std::string& out) {
            // Standard output is a pipe; the program's status goes to a file.
            runShell("cd '" + dir.path + "' && { timeout -s KILL 30 '" LUMAQC_BINARY "' " + option + " " +
                     target + " clip.yuv 352 288 25 3 2>.stderr; echo $? >.status; } | cat > " + out);
            return std::stoi("0" + readFile(dir.file(".status")));
        };
        EXPECT_EQ(run("/dev/stdout", "path.txt"), 0) << option << readFile(dir.file(".stderr"));
        EXPECT_EQ(readFile(dir.file(".stderr")), "") << option;
        const std::string throughPath = readFile(dir.file("path.txt"));
        if (option == "--html") {
            EXPECT_NE(throughPath.find("</html>"), std::string::npos);
            continue;
        }
        EXPECT_EQ(run("-", "dash.txt"), 0) << option;
        const std::string report = readFile(dir.file("dash.txt"));
        ASSERT_FALSE(report.empty()) << option;
        EXPECT_GT(throughPath.size(), report.size()) << option;
    }
}
