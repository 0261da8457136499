// Nothing lost, nothing silently wrong: failed writes, stop signals, a log held
// by another run, inputs without frames, closed descriptors, streams with a
// start frame, 64-bit frame ends and arguments that read differently.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>


#include "e2e/runner.hpp"

namespace {

const std::string kLog = "metricsResultsCSV.csv";

void makeSample(const WorkDir& dir, const std::string& name, const std::string& sizeAndFrames = "") {
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file(name) + "' " + sizeAndFrames + " >/dev/null"), 0);
}

// The log of a plain run in a directory of its own.
std::string logOf(const WorkDir& dir, const std::string& args) {
    const RunResult r = runIn(dir, args);
    EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    runShell("rm -f '" + dir.file(kLog) + "'");
    return r.log;
}

// Whole rows only: every line ends with a newline and has the header's fields.
bool wholeRows(const std::string& log) {
    if (log.empty() || log.back() != '\n') return false;
    const auto lines = linesOf(log);
    for (const std::string& line : lines)
        if (fieldsOf(line).size() != fieldsOf(lines[0]).size()) return false;
    return true;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// A sparse raw file of `bytes` zeros (black frames, read fast).
void makeSparse(const WorkDir& dir, const std::string& name, int64_t bytes) {
    const int fd = ::open(dir.file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
    ::close(fd);
}

}  // namespace

TEST(Robustness, AFailedWriteEndsTheRunWithWholeRowsAndStatus255) {
    WorkDir dir;
    makeSample(dir, "sample.yuv");
    makeSample(dir, "long.yuv", "64 64 2000");
    const std::string full = logOf(dir, "long.yuv 64 64");
    struct Case {
        std::string setUp, command, error;
    };
    const std::string run = "'" LUMAQC_BINARY "' ";
    const Case cases[] = {
        {"ln -s /dev/full " + kLog, run + "sample.yuv 352 288 > .stdout 2> .stderr",
         "Cannot write the log file metricsResultsCSV.csv: No space left on device\n"},
        {"", run + "sample.yuv 352 288 > /dev/full 2> .stderr",
         "Cannot write to standard output: No space left on device\n"},
        // The reader of the console goes away after one line.
        {"", "{ " + run + "long.yuv 64 64 2> .stderr; echo $? > .status; } | head -1 > /dev/null; exit $(cat .status)",
         "Cannot write to standard output: Broken pipe\n"},
    };
    for (const Case& c : cases) {
        runShell("cd '" + dir.path + "' && rm -f " + kLog + " && " + (c.setUp.empty() ? ":" : c.setUp));
        EXPECT_EQ(runShell("cd '" + dir.path + "' && " + c.command), 255) << c.command;
        EXPECT_EQ(readFile(dir.file(".stderr")), c.error) << c.command;
    }
    // Every row analysed before the pipe broke is in the log, whole.
    const std::string log = readFile(dir.file(kLog));
    EXPECT_TRUE(wholeRows(log));
    EXPECT_TRUE(startsWith(full, log));
    EXPECT_GT(linesOf(log).size(), 10u);

    // A small file system that fills up: the rows that fit, each whole.
    WorkDir small;
    runShell("mkdir '" + small.file("fs") + "'");
    if (geteuid() != 0 || runShell("mount -t tmpfs -o size=8k tmpfs '" + small.file("fs") + "' 2>/dev/null") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const int status = runShell("cd '" + small.file("fs") + "' && " + run + "'" + dir.file("long.yuv") +
                                "' 64 64 > /dev/null 2> '" + small.file(".stderr") + "'");
    const std::string cut = readFile(small.file("fs/" + kLog));
    runShell("umount '" + small.file("fs") + "'");
    EXPECT_EQ(status, 255);
    EXPECT_EQ(readFile(small.file(".stderr")),
              "Cannot write the log file metricsResultsCSV.csv: No space left on device\n");
    EXPECT_TRUE(wholeRows(cut));
    EXPECT_TRUE(startsWith(full, cut));
    EXPECT_GT(linesOf(cut).size(), 10u);
}

TEST(Robustness, AStopSignalEndsTheRunWithTheRowsSoFar) {
    WorkDir dir;
    // 100000 black frames of 352 x 288, never read to their end here.
    makeSparse(dir, "big.yuv", int64_t{352} * 288 * 3 / 2 * 100000);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        runShell("rm -f '" + dir.file(kLog) + "'");
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.path.c_str()) != 0) _exit(127);
            const int out = ::open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            execl(LUMAQC_BINARY, LUMAQC_BINARY, "big.yuv", "352", "288", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Signalled once some rows are in the log.
        int raw = 0;
        ASSERT_TRUE(childStillRunningWhen(pid, [&] { return linesOf(readFile(dir.file(kLog))).size() >= 20; }, &raw))
            << "signal " << signal;
        kill(pid, signal);
        waitpid(pid, &raw, 0);
        ASSERT_TRUE(WIFEXITED(raw)) << "signal " << signal;
        EXPECT_EQ(WEXITSTATUS(raw), 128 + signal);
        const std::string err = readFile(dir.file(".stderr"));
        const std::string name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
        const size_t after = err.find("Interrupted by " + name + " after ");
        ASSERT_NE(after, std::string::npos) << err;
        const int frames = std::atoi(err.c_str() + after + 22 + name.size());
        const std::string log = readFile(dir.file(kLog));
        ASSERT_GT(frames, 0);
        EXPECT_EQ(linesOf(log).size(), static_cast<size_t>(frames) + 1);
        // The rows are those of a run asked for that many frames.
        EXPECT_TRUE(log == logOf(dir, "big.yuv 352 288 25 " + std::to_string(frames)));
        EXPECT_NE(readFile(dir.file(".stdout")).find("milliseconds per frame"), std::string::npos);
    }
}

TEST(Robustness, ALogHeldByAnotherRunIsLeftAlone) {
    WorkDir dir;
    makeSample(dir, "sample.yuv");
    dir.write(kLog, {'o', 'l', 'd'});
    const int held = ::open(dir.file(kLog).c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    RunResult r = runIn(dir, "sample.yuv 352 288 25 2");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Cannot write the log file metricsResultsCSV.csv: another lumaqc run is writing it\n");
    EXPECT_EQ(r.log, "old");
    ::close(held);
    // Nor is the log the input of this run.
    runShell("cd '" + dir.path + "' && cp sample.yuv " + kLog);
    r = runIn(dir, kLog + " 352 288 25 2");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Cannot write the log file metricsResultsCSV.csv: it is the input\n");
    EXPECT_TRUE(r.log == readFile(dir.file("sample.yuv")));
    r = runIn(dir, "sample.yuv 352 288 25 2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(linesOf(r.log).size(), 3u);
}

TEST(Robustness, InputsWithoutFramesToAnalyseLeaveTheLogAsItWas) {
    WorkDir dir;
    makeSample(dir, "sample.yuv");
    runShell("mkdir '" + dir.file("adir") + "' && head -c 1000 '" + dir.file("sample.yuv") + "' > '" +
             dir.file("short.yuv") + "' && printf 'YUV4MPEG2 W352 H288 F25:1\\n' > '" + dir.file("empty.y4m") + "'");
    const std::string picture(16 * 16 * 3 / 2, '\x50');
    std::ofstream(dir.file("two.y4m"), std::ios::binary) << "YUV4MPEG2 W16 H16\nFRAME\n" << picture << "FRAME\n" << picture;
    const std::vector<uint8_t> old = {'o', 'l', 'd', '\n', 1, 2};
    struct Case {
        std::string args, error;
    };
    const Case cases[] = {
        {"adir 352 288", "adir is a directory\n"},
        {"adir", "adir is a directory\n"},
        {"short.yuv 352 288", "short.yuv holds no whole frame of 352 x 288 (152064 bytes each): it has 1000 bytes\n"},
        {"short.yuv 352 288 25 5", "short.yuv holds no whole frame of 352 x 288 (152064 bytes each): it has 1000 bytes\n"},
        {"sample.yuv 352 288 25 5 60",
         "The start frame '60' lies past the end of sample.yuv, which holds 60 whole frames of 352 x 288\n"},
        {"--start 75 sample.yuv 352 288",
         "The start frame 75 lies past the end of sample.yuv, which holds 60 whole frames of 352 x 288\n"},
        {"empty.y4m", "Nothing to analyse: empty.y4m holds no whole frame\n"},
        {"--start 5 two.y4m", "Nothing to analyse: two.y4m holds no whole frame from frame 5 on\n"},
        {"two.y4m 16 16 25 1 2", "Nothing to analyse: two.y4m ends before frame 2\n"},
        {"- 352 288 < short.yuv", "Warning: Frame 0 is incomplete: ignored\nNothing to analyse: standard input holds no whole frame\n"},
    };
    for (const Case& c : cases) {
        dir.write(kLog, old);
        const RunResult r = runIn(dir, c.args);
        EXPECT_EQ(r.status, 255) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(r.err, c.error) << c.args;
        EXPECT_EQ(r.log, std::string(old.begin(), old.end())) << c.args;
    }
}

TEST(Robustness, ClosedStandardDescriptorsAreNotTakenByTheLog) {
    WorkDir dir;
    makeSample(dir, "sample.yuv");
    const std::string expected = logOf(dir, "sample.yuv 352 288 25 5");
    for (const char* closed : {"0<&- 1>&-", "1>&- 2>&-", "0<&- 1>&- 2>&-"}) {
        EXPECT_EQ(runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY "' sample.yuv 352 288 25 5 " + closed), 0)
            << closed;
        EXPECT_TRUE(readFile(dir.file(kLog)) == expected) << closed;
        runShell("rm -f '" + dir.file(kLog) + "'");
    }
}

TEST(Robustness, AFifoWithAStartFrameGivesTheRowsOfTheFile) {
    WorkDir dir;
    makeSample(dir, "sample.yuv");
    ASSERT_EQ(runShell("mkfifo '" + dir.file("fifo") + "'"), 0);
    for (const char* range : {" 25 10 20", " 25 5 55", " --start 50", " 25 1 59"}) {
        const std::string expected = logOf(dir, std::string("sample.yuv 352 288") + range);
        // The writer is told nothing when the run stops reading early.
        const int status = runShell("cd '" + dir.path + "' && { '" LUMAQC_BINARY "' fifo 352 288" + range +
                                    " > .stdout 2> .stderr & cat sample.yuv > fifo 2>/dev/null; wait $!; }");
        EXPECT_EQ(status, 0) << range << ": " << readFile(dir.file(".stderr"));
        EXPECT_TRUE(readFile(dir.file(kLog)) == expected) << range;
        runShell("rm -f '" + dir.file(kLog) + "'");
    }
}

TEST(Robustness, FrameNumbersPast2147483647AreNotAnalysedAndSaidSo) {
    WorkDir dir;
    // 1 x 1 frames take one byte: a sparse file holds more than 2^31 of them.
    makeSparse(dir, "tiny.yuv", (int64_t{1} << 32) + 10);
    makeSparse(dir, "zeros.yuv", 48);
    // The rows of black 1 x 1 frames, numbered from 0.
    const auto plain = linesOf(logOf(dir, "zeros.yuv 1 1 25 48"));
    struct Case {
        std::string args, warning;
    };
    const Case cases[] = {
        {"tiny.yuv 1 1 25 100 2147483600",
         "Warning: frame numbers end at 2147483647: the 52 requested frames after it are not analysed\n"},
        {"tiny.yuv 1 1 25 --start 2147483600",
         "Warning: tiny.yuv holds 2147483706 frames from frame 2147483600 on; frame numbers end at 2147483647, so "
         "48 of them are analysed\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = runIn(dir, c.args);
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
        const auto rows = linesOf(r.log);
        ASSERT_EQ(rows.size(), plain.size()) << c.args;
        for (size_t i = 1; i < rows.size(); ++i) {
            auto got = fieldsOf(rows[i]), want = fieldsOf(plain[i]);
            EXPECT_EQ(got[0], std::to_string(2147483600 + i - 1));
            got.erase(got.begin());
            want.erase(want.begin());
            EXPECT_EQ(got, want) << c.args << " row " << i;
        }
    }
}

TEST(Robustness, ArgumentsThatReadDifferentlyAreWarnedAbout) {
    WorkDir dir;
    makeSample(dir, "sample.yuv");
    struct Case {
        std::string args, sameAs, warning;
    };
    const Case cases[] = {
        {"sample.yuv 352abc 288 25 3", "sample.yuv 352 288 25 3",
         "WIDTH '352abc' has text after the number: it is read as 352"},
        {"sample.yuv 4294967648 288 25 3", "sample.yuv 352 288 25 3",
         "WIDTH '4294967648' lies outside 32 bits: it is read as 352"},
        {"sample.yuv 352 288 25 3x", "sample.yuv 352 288 25 3",
         "NumberOfFrames '3x' has text after the number: it is read as 3"},
        {"sample.yuv 352 288 abc 3", "sample.yuv 352 288 0 3",
         "FPS 'abc' is not a number: it is read as 0, which sets the freezing flag on every frame after the first"},
        {"sample.yuv 352 288 -1 3 --quiet", "sample.yuv 352 288 -1 3",
         "FPS '-1' is not a positive number, which sets the freezing flag on every frame after the first"},
        {"sample.yuv 352 288 inf 3", "sample.yuv 352 288 1e9 3",
         "FPS 'inf' is not a finite number, with which the freezing flag is never set"},
        {"sample.yuv 351 288 25 3", "",
         "raw frames of 351 x 288 are read as 151632 bytes each (W x H x 3 / 2); at an odd size encoders usually "
         "write chroma planes of 176 x 144, 151776 bytes per frame"},
    };
    for (const Case& c : cases) {
        const RunResult r = runIn(dir, c.args);
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_NE(r.err.find("Warning: " + c.warning + "\n"), std::string::npos) << c.args << ": " << r.err;
        if (!c.sameAs.empty()) {
            EXPECT_TRUE(r.log == logOf(dir, c.sameAs)) << c.args;
        }
    }
    // Arguments written as they are read: no warning.
    EXPECT_EQ(runIn(dir, "sample.yuv 352 288 25 3 0").err, "");
}
