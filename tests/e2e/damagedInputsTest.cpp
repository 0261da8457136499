// Inputs that are damaged, far larger than their bytes, or cut short while
// they are read: the rows before the fault, one line and a failed status on
// every path, and no frame-sized allocation before a whole frame exists.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "e2e/runner.hpp"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr size_t kFrameBytes = 352 * 288 * 3 / 2;

// Runs `feed lumaqc args` in dir; feed is a shell pipeline ending in "|", or "".
// *json receives r.json, when the run wrote it.
RunResult runFed(const WorkDir& dir, const std::string& feed, const std::string& args, std::string* json = nullptr) {
    RunResult r;
    r.status = runShell("cd '" + dir.path + "' && " + feed + " '" LUMAQC_BINARY "' " + args + " > .stdout 2> .stderr");
    r.out = readFile(dir.file(".stdout"));
    r.err = readFile(dir.file(".stderr"));
    r.logExists = fileExists(dir.file("metricsResultsCSV.csv"));
    if (r.logExists) r.log = readFile(dir.file("metricsResultsCSV.csv"));
    if (json != nullptr) *json = readFile(dir.file("r.json"));
    runShell("cd '" + dir.path + "' && rm -rf metricsResultsCSV.csv out r.json");
    return r;
}

// The sample clip as Y4M, its frame `damagedFrame` preceded by frameLine.
void writeY4m(const WorkDir& dir, const std::string& name, const std::string& header, int damagedFrame,
              const std::string& frameLine) {
    const std::string raw = readFile(dir.file("sample.yuv"));
    std::string y4m = "YUV4MPEG2 " + header + "\n";
    for (size_t at = 0, i = 0; at < raw.size(); at += kFrameBytes, ++i)
        y4m += (static_cast<int>(i) == damagedFrame ? frameLine : "FRAME\n") + raw.substr(at, kFrameBytes);
    std::ofstream(dir.file(name), std::ios::binary) << y4m;
}

TEST(DamagedInputs, AY4mDamageGivesTheRowsBeforeItThenOneLineAndStatus255OnEveryPath) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("sample.yuv") + "' >/dev/null"), 0);
    const std::string header = "W352 H288 F25:1 C420jpeg";
    struct Damage {
        const char* name;
        std::string header;
        std::string frameLine;  // of frame 2
        const char* message;
        int firstBad;  // rows end before this frame
    };
    const std::vector<Damage> damages = {
        {"frame line", header, "FRAMX\n", "Frame 2 of ", 2},
        {"long frame line", header, "FRAME X" + std::string(70000, 'x') + "\n", "longer than 65536 bytes", 2},
        {"W given twice", "W352 H288 W176 F25:1", "FRAME\n", "gives the parameter W twice", 0},
    };
    struct Path {
        const char* feed;
        std::string args;  // INPUT stands for the file or '-'
        int start;
    };
    const std::vector<Path> paths = {
        {"", "INPUT", 0},
        {"cat damaged.y4m |", "INPUT", 0},
        {"", "--frames 4 INPUT", 0},
        {"cat damaged.y4m |", "--frames 4 INPUT", 0},
        {"", "--start 1 INPUT", 1},
        {"", "--start 3 INPUT", 3},
        {"cat damaged.y4m |", "--start 3 INPUT", 3},
        {"", "--json r.json INPUT", 0},
        {"", "--run-start 0 --start 0 --frames 4 INPUT", 0},
        {"", "--json-dir out damaged.y4m sample.y4m", 0},
    };
    writeY4m(dir, "sample.y4m", header, -1, "");
    for (const Damage& d : damages) {
        writeY4m(dir, "damaged.y4m", d.header, 2, d.frameLine);
        for (const Path& p : paths) {
            std::string args = p.args;
            if (const size_t at = args.find("INPUT"); at != std::string::npos)
                args.replace(at, 5, *p.feed != '\0' ? "-" : "damaged.y4m");
            const bool many = args.find("--json-dir") != std::string::npos;
            SCOPED_TRACE(std::string(d.name) + ": " + p.feed + " lumaqc " + args);
            // The rows of the frames before the damage, as the raw file gives them.
            const int rows = std::max(d.firstBad - p.start, 0);
            const RunResult expected =
                runFed(dir, "", "sample.yuv 352 288 25 " + std::to_string(rows) + " " + std::to_string(p.start));
            if (many) runShell("mkdir '" + dir.file("out") + "'");
            std::string json;
            const RunResult r = runFed(dir, p.feed, args, &json);
            EXPECT_EQ(r.status, 255);
            EXPECT_NE((r.err + r.out).find(d.message), std::string::npos) << r.err;
            if (many) {
                EXPECT_NE(r.out.find("failed"), std::string::npos) << r.out;
                continue;
            }
            EXPECT_EQ(r.logExists, rows > 0);
            if (rows > 0) {
                EXPECT_EQ(r.log, expected.log);
            }
            // A report of the rows before the damage says the run is incomplete.
            if (args.find("--json r.json") != std::string::npos && rows > 0) {
                EXPECT_NE(json.find("\"complete\": false"), std::string::npos) << json;
            }
        }
    }
}

// A picture far larger than the bytes there: no frame-sized allocation before
// a whole frame exists, so the run ends with "Nothing to analyse" within an
// address space far below one picture (26000 x 27000 is 702 MB).
TEST(DamagedInputs, AHugePictureWithoutAWholeFrameAllocatesNothingOfItsSize) {
    WorkDir dir;
    std::ofstream(dir.file("huge.y4m"), std::ios::binary) << "YUV4MPEG2 W26000 H27000 F25:1 C420jpeg\n"
                                                          << "FRAME\n" << std::string(100, '\x10');
    // What the runs took: the largest resident set of any process the test
    // waited for. Where no sanitizer reserves its own address space, a limit
    // on it also stops a run that would take the frame's size.
    const std::string limit = kSanitized ? "" : "ulimit -v 400000; ";  // KiB
    struct Case {
        std::string feed;
        std::string args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"", "huge.y4m", "Nothing to analyse: huge.y4m holds no whole frame"},
        {"", "--threads 8 huge.y4m", "Nothing to analyse: huge.y4m holds no whole frame"},
        {"cat huge.y4m |", "--threads 8 -", "Nothing to analyse: standard input holds no whole frame"},
        {"head -c 1000 /dev/zero |", "- 26000 27000", "Nothing to analyse: standard input holds no whole frame"},
        {"head -c 1000 /dev/zero |", "--threads 8 - 26000 27000",
         "Nothing to analyse: standard input holds no whole frame"},
        {"head -c 1000 /dev/zero |", "--frames 2 - 26000 27000",
         "Nothing to analyse: standard input holds no whole frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.feed + " lumaqc " + c.args);
        const RunResult r = runFed(dir, c.feed + " (" + limit, "" + c.args + ")");
        EXPECT_EQ(r.status, 255);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(r.logExists);
    }
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 300000) << "KiB resident";  // the frame alone is 1,053,000 KiB
}

// A file cut short while it is read: the run waits on its console pipe after
// a few hundred rows, the file is truncated, and the run then reads on to the
// new end. A count the file did not hold from the start stays a normal end.
TEST(DamagedInputs, AFileCutShortWhileReadFailsWithTheFramesExpectedAndRead) {
    WorkDir dir;
    constexpr int kFrames = 3000, kKept = 1500;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("long.yuv") + "' 64 48 " +
                       std::to_string(kFrames) + " >/dev/null"),
              0);
    const off_t frameBytes = 64 * 48 * 3 / 2;
    struct Case {
        std::string args;  // INPUT: the file
        bool y4m;
        std::string message;
    };
    const std::string expected = "3000 frames expected from frame 0 (its size when opened), 1500 read";
    const std::vector<Case> cases = {
        {"INPUT 64 48", false, expected},
        {"--threads 3 --json r.json INPUT 64 48", false, expected},
        {"INPUT 64 48 25 2800", false, "2800 frames expected from frame 0 (its size when opened), 1500 read"},
        {"INPUT", true, expected},
        {"--frames 2900 INPUT", true, "2900 frames expected from frame 0 (its size when opened), 1500 read"},
    };
    for (const Case& c : cases) {
        // A fresh copy (as Y4M when asked) and the rows the first kKept frames give.
        const std::string name = c.y4m ? "cut.y4m" : "cut.yuv";
        std::string bytes = readFile(dir.file("long.yuv"));
        size_t keptBytes = kKept * frameBytes;
        if (c.y4m) {
            std::string y4m = "YUV4MPEG2 W64 H48 F25:1 C420jpeg\n";
            for (size_t at = 0; at < bytes.size(); at += frameBytes) {
                y4m += "FRAME\n" + bytes.substr(at, frameBytes);
                if (at / frameBytes + 1 == kKept) keptBytes = y4m.size();
            }
            bytes = y4m;
        }
        std::ofstream(dir.file(name), std::ios::binary) << bytes;
        const RunResult whole = runFed(dir, "", "long.yuv 64 48 25 " + std::to_string(kKept));
        std::string args = c.args;
        args.replace(args.find("INPUT"), 5, name);
        SCOPED_TRACE("lumaqc " + args);

        const std::string log = dir.file("metricsResultsCSV.csv");
        FILE* console = ::popen(("cd '" + dir.path + "' && '" LUMAQC_BINARY "' " + args + " 2> .stderr").c_str(), "r");
        ASSERT_NE(console, nullptr);
        // The console pipe fills long before frame kKept: the run waits there.
        for (int polls = 0; polls < 6000 && linesOf(readFile(log)).size() < 20; ++polls) ::usleep(20000);
        ASSERT_EQ(::truncate(dir.file(name).c_str(), static_cast<off_t>(keptBytes)), 0);
        char buffer[1 << 16];
        while (std::fread(buffer, 1, sizeof buffer, console) > 0) {
        }
        const int raw = ::pclose(console);
        const std::string err = readFile(dir.file(".stderr"));
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 255);
        EXPECT_NE(err.find(name + " was cut short while it was read: " + c.message), std::string::npos) << err;
        EXPECT_EQ(readFile(log), whole.log);
        if (args.find("r.json") != std::string::npos) {
            EXPECT_NE(readFile(dir.file("r.json")).find("\"complete\": false"), std::string::npos);
        }
        runShell("cd '" + dir.path + "' && rm -f metricsResultsCSV.csv r.json");
    }
    // A count past the end of a file of that size from the start, and a pipe
    // that ends before its count: the frames there, one line, status 0.
    for (const std::string& feed : {std::string(""), std::string("cat long.yuv |")}) {
        const RunResult r = runFed(dir, feed, (feed.empty() ? "long.yuv" : "-") + std::string(" 64 48 25 3100"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("3000 of 3100 requested frames analysed"), std::string::npos) << r.err;
    }
}

}  // namespace
