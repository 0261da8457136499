// The report options of the command line on the sample clip: JSON and CSV
// values are the library's own doubles and agree with the log's digits,
// segments and gates set the exit status, the progress line shows on a
// terminal only, and without the options nothing changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "e2e/runner.hpp"
#include "report/frameRows.hpp"
#include "lumaqc/lumaqc.h"

namespace {

constexpr int kW = 352, kH = 288, kFrames = 60;

uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

void makeSample(const WorkDir& dir) {
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("clip.yuv") + "'"), 0);
}

// Every frame of the sample clip through the library itself.
std::vector<lumaqc::FrameRow> libraryRows(const WorkDir& dir) {
    const std::string clip = readFile(dir.file("clip.yuv"));
    lumaqc_context* context = nullptr;
    EXPECT_EQ(lumaqc_open(&context, kW, kH, nullptr), LUMAQC_OK);
    std::vector<lumaqc::FrameRow> rows(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        rows[i].frame = i;
        const auto* luma = reinterpret_cast<const uint8_t*>(clip.data()) + static_cast<size_t>(i) * kW * kH * 3 / 2;
        EXPECT_EQ(lumaqc_analyse(context, luma, kW, &rows[i].values), LUMAQC_OK);
    }
    lumaqc_close(&context);
    return rows;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

// The value as the log writes it (exposure truncated).
std::string logDigits(const lumaqc::Column& c, double v) {
    char text[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (c.kind == lumaqc::ColumnKind::Truncated) std::snprintf(text, sizeof text, c.logFormat, lumaqc::truncatedColumn(v));
    else if (c.kind == lumaqc::ColumnKind::Flag) std::snprintf(text, sizeof text, c.logFormat, static_cast<int>(v));
    else std::snprintf(text, sizeof text, c.logFormat, v);
#pragma GCC diagnostic pop
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\t' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace

TEST(Reports, JsonAndCsvCarryTheLibraryDoublesAndAgreeWithTheLog) {
    WorkDir dir;
    makeSample(dir);
    const auto rows = libraryRows(dir);
    RunResult r = runIn(dir, "clip.yuv 352 288 --json out.json --csv out.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(readFile(dir.file("out.json")));
    const auto csv = linesOf(readFile(dir.file("out.csv")));
    const auto log = linesOf(r.log);
    ASSERT_EQ(doc["frames"].size(), static_cast<size_t>(kFrames));
    ASSERT_EQ(csv.size(), static_cast<size_t>(kFrames) + 1);
    ASSERT_EQ(log.size(), static_cast<size_t>(kFrames) + 1);
    for (int i = 0; i < kFrames; ++i) {
        const auto& frame = doc["frames"][i];
        EXPECT_EQ(frame["frameNum"], i);
        EXPECT_EQ(frame["pts_time"].get<double>(), i / 25.0);
        std::vector<std::string> csvFields;
        std::stringstream ss(csv[i + 1].substr(0, csv[i + 1].size() - 1));  // without the CR
        for (std::string f; std::getline(ss, f, ',');) csvFields.push_back(f);
        csvFields.resize(lumaqc::columns().size() + 1);
        const auto logFields = fieldsOf(log[i + 1]);
        for (size_t c = 1; c < lumaqc::columns().size(); ++c) {
            const lumaqc::Column& column = lumaqc::columns()[c];
            const double value = lumaqc::columnValue(column, rows[i]);
            const auto& written = frame["metrics"][column.name];
            const std::string& csvField = csvFields[c + 1];
            if (lumaqc::isNotComputed(column, rows[i], kW, kH) || !std::isfinite(value)) {
                EXPECT_TRUE(written.is_null()) << column.name << " frame " << i;
                EXPECT_EQ(csvField, "") << column.name << " frame " << i;
                continue;
            }
            ASSERT_TRUE(written.is_number()) << column.name << " frame " << i;
            EXPECT_EQ(bitsOf(written.get<double>()), bitsOf(value)) << column.name << " frame " << i;
            EXPECT_EQ(bitsOf(std::strtod(csvField.c_str(), nullptr)), bitsOf(value)) << column.name;
            // The log shows the values of the rows, which come first.
            if ((column.outputs & LUMAQC_OUTPUT_ROWS) == 0) continue;
            ASSERT_LT(c, logFields.size()) << column.name;
            EXPECT_EQ(logDigits(column, written.get<double>()), trimmed(logFields[c])) << column.name << " " << i;
        }
    }
}

TEST(Reports, SegmentsOfTheSampleClipAndGatesSetTheExitStatus) {
    WorkDir dir;
    makeSample(dir);
    struct Case {
        std::string options;
        int status;
        std::vector<std::string> outHas;
    };
    const Case cases[] = {
        {"--events --quiet", 0,
         {"black_start: 0.8 black_end: 0.92 black_duration: 0.12 first_frame: 20 last_frame: 22\n",
          "freeze_start: 1.2 freeze_end: 1.6 freeze_duration: 0.4 first_frame: 30 last_frame: 39\n",
          "letterbox_start: 1.8 letterbox_end: 2.4 letterbox_duration: 0.6 first_frame: 45 last_frame: 59 top: 36 "
          "bottom: 36 left: 0 right: 0 crop: 352:216:0:36\n",
          "interlaced_start: 1.6 interlaced_end: 1.8 interlaced_duration: 0.2 first_frame: 40 last_frame: 44 "
          "field_order: tff\n"}},
        {"--fail-if 'black.count>0'", 1, {"gate black.count>0: value 1, tripped\n"}},
        {"--fail-if 'freeze.longest>=0.4' --fail-if 'blur.p95>4'", 1,
         {"gate freeze.longest>=0.4: value 0.4, tripped\n", ", passed\n"}},
        {"--fail-if 'freeze.longest>=2' --fail-if 'letterbox.total>0.6'", 0, {"value 0.4, passed\n"}},
        {"--min-freeze 0.5 --fail-if 'freeze.count>0'", 0, {"gate freeze.count>0: value 0, passed\n"}},
        {"--summary --quiet", 0, {"Pooled statistics:", "\tletterbox: 1 segments, 15 frames, total 0.6 s"}},
    };
    for (const Case& k : cases) {
        RunResult r = runIn(dir, "clip.yuv 352 288 " + k.options);
        EXPECT_EQ(r.status, k.status) << k.options << "\n" << r.err;
        for (const std::string& part : k.outHas) EXPECT_NE(r.out.find(part), std::string::npos) << k.options << r.out;
    }
}

TEST(Reports, UsageErrorsComeBeforeAnyAnalysis) {
    WorkDir dir;
    makeSample(dir);
    for (const char* bad : {"--fail-if 'blur.p95>>4'", "--fail-if 'fog.mean>1'", "--json", "--frobnicate",
                            "--min-black -1", "--json - --csv -"}) {
        RunResult r = runIn(dir, std::string("clip.yuv 352 288 ") + bad);
        EXPECT_EQ(r.status, 255) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_EQ(linesOf(r.err).size(), 1u) << bad << r.err;
        EXPECT_FALSE(r.logExists) << bad;
    }
}

TEST(Reports, QuietAndStandardOutputReportsLeaveTheRestAsItWas) {
    WorkDir dir;
    makeSample(dir);
    const RunResult plain = runIn(dir, "clip.yuv 352 288 25 20");
    ASSERT_EQ(plain.status, 0);
    // Quiet: no console text at all, the same log.
    const RunResult quiet = runIn(dir, "clip.yuv 352 288 25 20 --quiet");
    auto lines = linesOf(plain.out);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.log, plain.log);
    // A report on stdout: stdout holds the JSON alone, the console text is on stderr.
    const RunResult json = runIn(dir, "--json - clip.yuv 352 288 25 20");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["frames"].size(), 20u);
    EXPECT_EQ(linesOf(json.err).size(), lines.size());
    EXPECT_EQ(json.err.substr(0, 200), plain.out.substr(0, 200));
    EXPECT_EQ(json.log, plain.log);
}

TEST(Reports, ReadErrorStillEndsTheJsonDocument) {
    // Two good frames, then a frame without its FRAME line.
    WorkDir dir;
    const std::string picture(16 * 16 * 3 / 2, '\x50');
    std::ofstream(dir.file("clip.y4m"), std::ios::binary)
        << "YUV4MPEG2 W16 H16 F25:1\n" << "FRAME\n" << picture << "FRAME\n" << picture << "FRAMX\n" << picture;
    RunResult r = runIn(dir, "clip.y4m 16 16 25 3 --json out.json --csv out.csv");
    EXPECT_EQ(r.status, 255);
    const auto doc = nlohmann::json::parse(readFile(dir.file("out.json")));
    EXPECT_EQ(doc["complete"], false);
    EXPECT_EQ(doc["frames"].size(), 2u);
    EXPECT_EQ(readFile(dir.file("out.csv")).substr(0, 15), "frame,pts_time,");
}

namespace {
// Runs lumaqc with its error stream (and output) on a pseudo-terminal and
// returns what the terminal received.
std::string runOnTerminal(const WorkDir& dir, const std::vector<std::string>& args, int* status) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "openpty failed";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path.c_str()) != 0) _exit(127);
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        close(master);
        close(slave);
        std::vector<char*> argv = {const_cast<char*>(LUMAQC_BINARY)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(LUMAQC_BINARY, argv.data());
        _exit(127);
    }
    close(slave);
    std::string seen;
    char buffer[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 20000) <= 0) break;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the child has closed the terminal
        seen.append(buffer, static_cast<size_t>(n));
    }
    close(master);
    int raw = 0;
    waitpid(pid, &raw, 0);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return seen;
}
}  // namespace

TEST(Reports, ProgressLineOnATerminalOnlyAndErasedAtTheEnd) {
    WorkDir dir;
    makeSample(dir);
    int status = -1;
    const std::string terminal = runOnTerminal(dir, {"clip.yuv", "352", "288"}, &status);
    EXPECT_EQ(status, 0);
    const size_t shown = terminal.rfind("\r\033[Kframe ");
    ASSERT_NE(shown, std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" of 60 ("), std::string::npos);
    // The last line drawn is erased before the timing report.
    EXPECT_LT(terminal.find("\r\033[K", shown + 1), terminal.find("Calculation time"));
    // Not in a pipe, unless forced; never when refused.
    EXPECT_EQ(runIn(dir, "clip.yuv 352 288 --quiet").err.find("frame "), std::string::npos);
    EXPECT_NE(runIn(dir, "clip.yuv 352 288 --quiet --progress").err.find("\r\033[Kframe "), std::string::npos);
    const std::string refused = runOnTerminal(dir, {"clip.yuv", "352", "288", "--quiet", "--no-progress"}, &status);
    EXPECT_EQ(refused.find("\033[K"), std::string::npos);
}
