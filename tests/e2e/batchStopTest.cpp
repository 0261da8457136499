// Many inputs in one invocation, stopped by a signal or unable to write their
// summary: the runs going on stop after their current frame, the others do not
// start, the summary says which, and the status is that of one run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "e2e/runner.hpp"

namespace {

// The summary line of an input, found by its file name.
std::string summaryLine(const std::string& summary, const std::string& name) {
    for (const std::string& line : linesOf(summaryOf(summary)))
        if (line.find("/" + name + " ") != std::string::npos) return line;
    return "";
}

void makeInputs(const WorkDir& dir, const std::vector<std::string>& small, const std::string& big) {
    for (const std::string& name : small)
        ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file(name) + "' 352 288 30 >/dev/null"), 0);
    // 100000 black frames, never analysed to their end here.
    const int fd = ::open(dir.file(big).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{352} * 288 * 3 / 2 * 100000), 0);
    ::close(fd);
    runShell("mkdir '" + dir.file("out") + "' '" + dir.file("alone") + "'");
}

}  // namespace

TEST(BatchStop, AStopSignalStopsTheRunsGoingOnAndStartsNoMore) {
    WorkDir dir;
    const std::vector<std::string> done = {"a.yuv", "b.yuv"}, later = {"c.yuv", "d.yuv"};
    makeInputs(dir, {"a.yuv", "b.yuv", "c.yuv", "d.yuv"}, "big.yuv");
    struct Case {
        int signal;
        bool toGroup;  // as a terminal sends it, to the whole process group
    };
    for (const Case& c : {Case{SIGINT, true}, Case{SIGTERM, false}, Case{SIGHUP, false}}) {
        const std::string name = c.signal == SIGINT ? "SIGINT" : c.signal == SIGTERM ? "SIGTERM" : "SIGHUP";
        runShell("rm -f '" + dir.file("out") + "'/*");
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            if (chdir(dir.path.c_str()) != 0) _exit(127);
            dup2(::open("summary.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(::open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            // One input at a time, in the order given.
            execl(LUMAQC_BINARY, LUMAQC_BINARY, "--json-dir", "out", "--csv-dir", "out", "--threads", "1", "--size",
                  "352x288", "a.yuv", "b.yuv", "big.yuv", "c.yuv", "d.yuv", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Signalled once the big input has rows in its report.
        int raw = 0;
        ASSERT_TRUE(childStillRunningWhen(pid, [&] { return readFile(dir.file("out/big.yuv.csv")).size() >= 20000; },
                                          &raw))
            << name;
        kill(c.toGroup ? -pid : pid, c.signal);
        waitpid(pid, &raw, 0);
        ASSERT_TRUE(WIFEXITED(raw)) << name;
        EXPECT_EQ(WEXITSTATUS(raw), 128 + c.signal) << name;
        EXPECT_EQ(readFile(dir.file("errors.txt")),
                  "Interrupted by " + name + ": 2 of 5 inputs analysed, 1 stopped, 2 not run\n");
        const std::string summary = readFile(dir.file("summary.txt"));
        for (const std::string& input : done) {
            EXPECT_NE(summaryLine(summary, input).find(" ok "), std::string::npos) << name << summary;
            // The reports of a run of that input alone.
            EXPECT_EQ(runShell("cd '" + dir.file("alone") + "' && '" LUMAQC_BINARY
                               "' --threads 1 --json a.json --csv a.csv '" + dir.file(input) +
                               "' 352 288 > /dev/null 2>&1"),
                      0);
            EXPECT_TRUE(readFile(dir.file("out/" + input + ".json")) == readFile(dir.file("alone/a.json"))) << input;
            EXPECT_TRUE(readFile(dir.file("out/" + input + ".csv")) == readFile(dir.file("alone/a.csv"))) << input;
        }
        for (const std::string& input : later) {
            EXPECT_NE(summaryLine(summary, input).find(" not run "), std::string::npos) << name << summary;
            EXPECT_FALSE(fileExists(dir.file("out/" + input + ".json"))) << input;
        }
        // The stopped run finished its reports with the frames it analysed.
        const std::string stopped = summaryLine(summary, "big.yuv");
        EXPECT_NE(stopped.find(" stopped "), std::string::npos) << name << summary;
        EXPECT_NE(stopped.find("Interrupted by " + name + " after "), std::string::npos) << stopped;
        const auto doc = nlohmann::json::parse(readFile(dir.file("out/big.yuv.json")), nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << name;
        EXPECT_EQ(doc["complete"], false);
        const size_t frames = doc["frames"].size();
        EXPECT_GT(frames, 0u);
        EXPECT_NE(stopped.find(" " + std::to_string(frames) + "  Interrupted"), std::string::npos) << stopped;
        EXPECT_EQ(linesOf(readFile(dir.file("out/big.yuv.csv"))).size(), frames + 1) << name;
    }
}

TEST(BatchStop, ASummaryThatCannotBeWrittenEndsWithOneErrorLineAnd255) {
    WorkDir dir;
    makeInputs(dir, {"a.yuv", "b.yuv"}, "big.yuv");
    const std::string run = "'" LUMAQC_BINARY "' --json-dir out --size 352x288 a.yuv b.yuv";
    struct Case {
        std::string command;
        int error;
    };
    const Case cases[] = {
        {run + " > /dev/full 2> errors.txt", ENOSPC},
        // The reader of the summary has gone before it is written.
        {"{ " + run + " 2> errors.txt; echo $? > status.txt; } | head -c 0; exit $(cat status.txt)", EPIPE},
    };
    for (const Case& c : cases) {
        runShell("rm -f '" + dir.file("out") + "'/*");
        EXPECT_EQ(runShell("cd '" + dir.path + "' && " + c.command), 255) << c.command;
        EXPECT_EQ(readFile(dir.file("errors.txt")),
                  std::string("Cannot write to standard output: ") + std::strerror(c.error) + "\n");
        // The inputs' own reports are whole.
        for (const char* input : {"a.yuv", "b.yuv"}) {
            const auto doc = nlohmann::json::parse(readFile(dir.file(std::string("out/") + input + ".json")), nullptr, false);
            ASSERT_FALSE(doc.is_discarded()) << input;
            EXPECT_EQ(doc["complete"], true) << input;
        }
    }
}
