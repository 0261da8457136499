// The options and messages of a single run: --quiet, --log, --no-log,
// --version, several inputs, raw names without sizes, raw files cut inside a
// frame, the progress total of a container and the durations of event lines.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/clipKinds.hpp"
#include "e2e/runner.hpp"
#include "lumaqc/version.h"
#include "report/numbers.hpp"

namespace {

bool haveFfmpeg() { return runShell("command -v ffmpeg >/dev/null 2>&1") == 0; }

// The console text without the timing report, whose figures differ from run to run.
std::string withoutTimes(const std::string& text) {
    std::string kept;
    for (const std::string& line : linesOf(text))
        if (line.find(" ms") == std::string::npos && line.find("seconds overall") == std::string::npos &&
            line.find("milliseconds per frame") == std::string::npos)
            kept += line + "\n";
    return kept;
}

// The lines that hold part.
std::string linesWith(const std::string& text, const std::string& part) {
    std::string kept;
    for (const std::string& line : linesOf(text))
        if (line.find(part) != std::string::npos) kept += line + "\n";
    return kept;
}

}  // namespace

// Each option leaves what it does not name as the plain run writes it.
TEST(SingleRunOptions, QuietAndLogOptionsAgainstThePlainRun) {
    WorkDir dir;
    dir.write("c.yuv", clipOfKinds(kindsOf({{'n', 20}, {'b', 10}, {'f', 0}, {'n', 5}, {'f', 6}, {'n', 9}})));
    const RunResult plain = runIn(dir, "--events --fail-if 'black.count>0' c.yuv 16 16");
    ASSERT_EQ(plain.status, 1) << plain.err;
    ASSERT_TRUE(plain.logExists);
    const std::string events = linesWith(plain.out, "_start: ");
    const std::string gates = linesWith(plain.out, "gate ");
    ASSERT_FALSE(events.empty());
    runShell("mkdir '" + dir.file("sub") + "'");
    const struct {
        std::string options;
        std::string out;     // the console text, timing left out
        std::string logAt;   // where the log is, "" for none
    } cases[] = {
        {"--quiet", gates, "metricsResultsCSV.csv"},
        {"--quiet --no-progress", gates, "metricsResultsCSV.csv"},
        {"--log sub/my.log", withoutTimes(plain.out), "sub/my.log"},
        {"--log=sub/other.log --quiet", gates, "sub/other.log"},
        {"--no-log", withoutTimes(plain.out), ""},
        {"--no-log --quiet", gates, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        runShell("rm -f '" + dir.file("metricsResultsCSV.csv") + "'");
        const RunResult r = runIn(dir, "--events --fail-if 'black.count>0' " + c.options + " c.yuv 16 16");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err, "");
        const bool quiet = c.options.find("--quiet") != std::string::npos;
        // --quiet keeps the lines that --events and --fail-if ask for.
        EXPECT_EQ(quiet ? r.out : withoutTimes(r.out), quiet ? events + c.out : c.out);
        EXPECT_EQ(r.logExists, c.logAt == "metricsResultsCSV.csv");
        if (!c.logAt.empty()) { EXPECT_EQ(readFile(dir.file(c.logAt)), plain.log); }
    }
}

// One line on the error stream and the documented status for each message;
// no log is written where the run is refused.
TEST(SingleRunOptions, MessagesOfTheCommandLine) {
    WorkDir dir;
    const std::vector<uint8_t> clip = clipOfKinds(kindsOf({{'n', 3}}));
    dir.write("a.yuv", clip);
    dir.write("b.yuv", clip);
    std::vector<uint8_t> cut = clip;
    cut.resize(clip.size() + 100, 9);
    dir.write("cut.yuv", cut);
    const struct {
        std::string args;
        int status;
        std::string out, err;  // err: the whole error stream
        bool needsDecoders;
    } cases[] = {
        {"--version", 0, "lumaqc " LUMAQC_VERSION_STRING "\n", "", false},
        {"--quiet --version a.yuv", 0, "lumaqc " LUMAQC_VERSION_STRING "\n", "", false},
        {"a.yuv b.yuv", 255, "", "a.yuv, b.yuv: for several inputs use --json-dir or lumaqc check\n", false},
        {"a.yuv b.yuv a.yuv", 255, "", "a.yuv, b.yuv, ...: for several inputs use --json-dir or lumaqc check\n", false},
        {"a.yuv missing.mp4", 255, "", "a.yuv, missing.mp4: for several inputs use --json-dir or lumaqc check\n", false},
        {"a.yuv", 255, "", "a.yuv: raw input needs WIDTH HEIGHT (e.g. a.yuv 1920 1080)\n", true},
        {"--input-format raw A.RAW", 255, "", "A.RAW: raw input needs WIDTH HEIGHT (e.g. A.RAW 1920 1080)\n", false},
        {"--log a.log --no-log a.yuv 16 16", 255, "", "--log and --no-log cannot be given together\n", false},
        {"--log nowhere/x.log a.yuv 16 16", 255, "", "Cannot create the log file nowhere/x.log: No such file or directory\n", false},
        {"--log a.yuv a.yuv 16 16", 255, "", "Cannot write the log file a.yuv: it is the input\n", false},
        {"--log r.json --json r.json a.yuv 16 16", 255, "", "Cannot create the report r.json: it is the log file r.json\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
#ifndef LUMAQC_LIBAV_MODULE_NAME
        if (c.needsDecoders) continue;
#endif
        if (c.args.find("A.RAW") != std::string::npos) dir.write("A.RAW", clip);
        runShell("rm -f '" + dir.file("r.json") + "'");
        const RunResult r = runIn(dir, c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(r.logExists);
    }
    // A raw file cut inside a frame: its whole frames are analysed as the file
    // of those frames alone is, and a warning counts the bytes after them.
    const RunResult whole = runIn(dir, "--quiet a.yuv 16 16");
    const RunResult r = runIn(dir, "--quiet cut.yuv 16 16");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.log, whole.log);
    EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("Warning: cut.yuv ends with " + std::to_string(cut.size() % (16 * 16 * 3 / 2)) + " bytes", 0), 0u)
        << r.err;
    // With a frame count the reader reads what it is asked: no warning.
    EXPECT_EQ(runIn(dir, "--quiet cut.yuv 16 16 25 2").err, "");
}

// Through the decoders: event durations print as frames over the rate, and the
// progress line counts towards the container's length.
TEST(SingleRunOptions, ContainerDurationsAndProgressTotal) {
#ifndef LUMAQC_LIBAV_MODULE_NAME
    GTEST_SKIP() << "built without the decoders";
#endif
    if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is missing";
    WorkDir dir;
    const std::string kinds = kindsOf({{'n', 21}, {'b', 2}, {'n', 30}, {'b', 7}, {'n', 11}, {'b', 3}, {'n', 26}});
    dir.write("c.yuv", clipOfKinds(kinds));
    for (const auto& [container, codec] : {std::pair{"mkv", "ffv1"}, std::pair{"mp4", "libx264 -qp 0"}}) {
        SCOPED_TRACE(container);
        const std::string name = std::string("c.") + container;
        ASSERT_EQ(runShell("cd '" + dir.path + "' && ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 16x16 -r 25 -i "
                           "c.yuv -c:v " + codec + " -y " + name),
                  0);
        const RunResult r = runIn(dir, "--quiet --events --progress " + name);
        ASSERT_EQ(r.status, 0) << r.err;
        // The black runs of the clip, as the kinds say.
        std::vector<std::string> durations;
        for (size_t t = 0; t < kinds.size(); ++t)
            if (kinds[t] == 'b' && (t == 0 || kinds[t - 1] != 'b')) {
                size_t n = 0;
                while (t + n < kinds.size() && kinds[t + n] == 'b') ++n;
                durations.push_back(lumaqc::report::shortest(static_cast<double>(n) / 25));
            }
        std::vector<std::string> printed;
        for (const std::string& line : linesOf(r.out))
            if (line.rfind("black_start", 0) == 0) {
                const size_t at = line.find("black_duration: ") + 16;
                printed.push_back(line.substr(at, line.find(' ', at) - at));
            }
        EXPECT_EQ(printed, durations) << r.out;
        EXPECT_NE(r.err.find(" of " + std::to_string(kinds.size()) + " ("), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(" fps, "), std::string::npos) << r.err;
    }
    // A stream of unknown length counts frames alone.
    EXPECT_EQ(runShell("cd '" + dir.path + "' && cat c.yuv | '" LUMAQC_BINARY "' --quiet --progress - 16 16 2> err.txt"), 0);
    const std::string piped = readFile(dir.file("err.txt"));
    EXPECT_NE(piped.find("\r\033[Kframe "), std::string::npos);
    EXPECT_EQ(piped.find(" of "), std::string::npos) << piped;
}
