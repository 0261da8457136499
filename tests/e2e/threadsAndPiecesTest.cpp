// Every number of threads writes what one thread writes, and the pieces of a
// run, merged, are the whole run.
#include <gtest/gtest.h>

#include <fstream>

#include <map>

#include "arguments.hpp"
#include "e2e/runner.hpp"
#include "report/options.hpp"

namespace {

// What a run writes, without the processor times of the timing report.
struct Outputs {
    int status;
    std::string console, errors, log, json, csv;
};

std::string withoutTimes(const std::string& console) {
    std::string kept;
    for (const std::string& line : linesOf(console))
        if (line.find("Calculation time") == std::string::npos && line.find("milliseconds per frame") == std::string::npos &&
            line.find(" ms ") == std::string::npos && line.find(" ms\t") == std::string::npos)
            kept += line + "\n";
    return kept;
}

Outputs run(const WorkDir& dir, const std::string& feed, const std::string& args) {
    runShell("cd '" + dir.path + "' && rm -f metricsResultsCSV.csv out.json out.csv");
    Outputs o;
    o.status = runShell("cd '" + dir.path + "' && " + feed + " '" LUMAQC_BINARY "' --json out.json --csv out.csv " +
                        args + " > .stdout 2> .stderr");
    o.console = withoutTimes(readFile(dir.file(".stdout")));
    o.errors = readFile(dir.file(".stderr"));
    o.log = readFile(dir.file("metricsResultsCSV.csv"));
    o.json = readFile(dir.file("out.json"));
    o.csv = readFile(dir.file("out.csv"));
    return o;
}

void makeClips(const WorkDir& dir) {
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("sample.yuv") + "' >/dev/null"), 0);
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("odd.yuv") + "' 301 263 30 >/dev/null"), 0);
    // A clip that ends inside its last frame.
    ASSERT_EQ(runShell("cd '" + dir.path + "' && head -c 1000000 sample.yuv > cut.yuv"), 0);
    const std::string raw = readFile(dir.file("sample.yuv"));
    std::string y4m = "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg\n";
    const size_t frameBytes = 352 * 288 * 3 / 2;
    for (size_t at = 0; at < raw.size(); at += frameBytes) y4m += "FRAME\n" + raw.substr(at, frameBytes);
    std::ofstream(dir.file("clip.y4m"), std::ios::binary) << y4m;
}

}  // namespace

TEST(Threads, EveryCountWritesWhatOneThreadWrites) {
    WorkDir dir;
    makeClips(dir);
    const bool ffmpeg = runShell("command -v ffmpeg >/dev/null 2>&1") == 0;
    if (ffmpeg)
        runShell("cd '" + dir.path +
                 "' && ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i sample.yuv -c:v ffv1 clip.mkv");
    const struct {
        std::string feed, args;
    } cases[] = {
        {"", "sample.yuv 352 288"},
        {"", "odd.yuv 301 263 25 40 3"},
        {"", "cut.yuv 352 288 25 20"},  // the file ends before the count
        {"", "clip.y4m --start 7"},
        {"cat sample.yuv |", "- 352 288"},
        {"", "clip.mkv"},
        {"", "sample.yuv 352 288 --reference --frames 12"},
    };
    for (const auto& c : cases) {
        if (c.args == "clip.mkv" && !ffmpeg) continue;
        const Outputs one = run(dir, c.feed, "--threads 1 " + c.args);
        ASSERT_FALSE(one.log.empty()) << c.args << ": " << one.errors;
        for (int threads : {2, 3, 8}) {
            const Outputs many = run(dir, c.feed, "--threads " + std::to_string(threads) + " " + c.args);
            const std::string what = c.args + " with " + std::to_string(threads) + " threads";
            EXPECT_EQ(many.status, one.status) << what;
            EXPECT_EQ(many.console, one.console) << what;
            EXPECT_EQ(many.errors, one.errors) << what;
            EXPECT_TRUE(many.log == one.log) << what;
            EXPECT_TRUE(many.json == one.json) << what;
            EXPECT_TRUE(many.csv == one.csv) << what;
        }
    }
}

TEST(Pieces, EveryLegalCutGivesTheWholeRun) {
    WorkDir dir;
    makeClips(dir);
    // The sample clip has black, frozen, combed and letterboxed stretches; the
    // frame rates make the freezing flag wait 1, 3 and 5 frames.
    for (const std::string fps : {"10", "25", "50"}) {
        const std::string common = "sample.yuv 352 288 " + fps;
        const Outputs whole = run(dir, "", common + " 58 2 --fail-if 'freeze.longest>0.5'");
        // Pieces start at the run's start (2) or right after a report: 11, 19, ... 51.
        for (int cut = 11; cut < 60; cut += 8) {
            const Outputs first = run(dir, "", "--run-start 2 " + common + " " + std::to_string(cut - 2) + " 2");
            runShell("cd '" + dir.path + "' && mv out.json a.json");
            const Outputs second = run(dir, "", "--run-start 2 " + common + " " + std::to_string(60 - cut) + " " +
                                                    std::to_string(cut) + " --threads 3");
            runShell("cd '" + dir.path + "' && mv out.json b.json");
            const std::string what = "fps " + fps + ", cut at " + std::to_string(cut);
            EXPECT_EQ(first.status, 0) << what << first.errors;
            EXPECT_EQ(second.status, 0) << what << second.errors;
            const std::vector<std::string> rows = linesOf(whole.log);
            std::string joined = rows[0] + "\n";
            for (const std::string* piece : {&first.log, &second.log}) {
                std::vector<std::string> lines = linesOf(*piece);
                for (size_t k = 1; k < lines.size(); ++k) joined += lines[k] + "\n";
            }
            EXPECT_TRUE(joined == whole.log) << what;
            // The merge recomputes the statistics, segments and gates.
            const int merged = runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY
                                        "' merge --fail-if 'freeze.longest>0.5' --json m.json --csv m.csv a.json b.json"
                                        " > /dev/null 2>&1");
            EXPECT_EQ(merged, whole.status) << what;
            EXPECT_TRUE(readFile(dir.file("m.json")) == whole.json) << what;
            EXPECT_TRUE(readFile(dir.file("m.csv")) == whole.csv) << what;
        }
    }
    // A start that is no piece start, and pieces that leave a gap, are refused.
    EXPECT_EQ(run(dir, "", "--run-start 2 sample.yuv 352 288 25 5 12").status, 255);
    EXPECT_NE(runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY "' merge --json m.json b.json a.json 2>/dev/null"),
              0);
}

TEST(Batch, EachInputGetsTheReportsOfItsOwnRunAndABrokenOneIsReported) {
    WorkDir dir;
    makeClips(dir);
    runShell("cd '" + dir.path + "' && mkdir out && echo 'not a video' > broken.mp4 && cp clip.y4m other.y4m");
    // The inputs one at a time, side by side, and fewer than the threads.
    for (const char* threads : {"1", "2", "3", "5"}) {
        SCOPED_TRACE(std::string("--threads ") + threads);
        runShell("rm -f '" + dir.file("out") + "'/*");
        const int status = runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY
                                    "' --json-dir out --csv-dir out --threads " + threads +
                                    " --fail-if 'black.count>0' clip.y4m broken.mp4 other.y4m > summary.txt 2>&1");
        EXPECT_EQ(status, 255);  // one input failed
        const std::string summary = readFile(dir.file("summary.txt"));
        EXPECT_NE(summary.find("broken.mp4"), std::string::npos) << summary;
        EXPECT_NE(summary.find("not a video"), std::string::npos) << summary;
        EXPECT_NE(summary.find("black.count>0"), std::string::npos) << summary;
        for (const std::string name : {"clip.y4m", "other.y4m"}) {
            // The run of the same input alone, by the same absolute path.
            run(dir, "", "--threads 1 --fail-if 'black.count>0' '" + dir.file(name) + "'");
            EXPECT_TRUE(readFile(dir.file("out/" + name + ".json")) == readFile(dir.file("out.json"))) << name;
            EXPECT_TRUE(readFile(dir.file("out/" + name + ".csv")) == readFile(dir.file("out.csv"))) << name;
        }
    }
    // Raw inputs of their own size, a cut one among them, and the frames each analysed.
    runShell("rm -f '" + dir.file("out") + "'/*");
    EXPECT_EQ(runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY
                       "' --json-dir out --threads 2 --size 352x288 --frames 50 sample.yuv cut.yuv > summary.txt"),
              0);
    const std::vector<std::string> lines = linesOf(summaryOf(readFile(dir.file("summary.txt"))));
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string name : {"sample.yuv", "cut.yuv"}) {
        run(dir, "", "--threads 1 --frames 50 '" + dir.file(name) + "' 352 288");
        EXPECT_TRUE(readFile(dir.file("out/" + name + ".json")) == readFile(dir.file("out.json"))) << name;
        const std::string rows = std::to_string(linesOf(readFile(dir.file("metricsResultsCSV.csv"))).size() - 1);
        const std::string& line = lines[name == "sample.yuv" ? 1 : 2];
        EXPECT_NE(line.find(" " + rows + "  "), std::string::npos) << line;
    }
    // Without a broken input, the tripped gates decide.
    EXPECT_EQ(runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY
                       "' --json-dir out --fail-if 'black.count>0' --size 352x288 sample.yuv > /dev/null 2>&1"),
              1);
}

// Many inputs hand every option of each input to each run (its reports then
// are those of the run alone with it), leave the console's alone and refuse
// one run's own.
TEST(Batch, OptionsOfEachInputReachEveryRunAndOneRunsOwnAreRefused) {
    WorkDir dir;
    makeClips(dir);
    runShell("cd '" + dir.path + "' && mkdir out");
    const std::map<std::string, std::string> values = {
        {"--fail-if", "black.count>0"}, {"--min-black", "0.2"},       {"--min-freeze", "0.3"},
        {"--min-letterbox", "0.2"},     {"--min-pillarbox", "0.2"},   {"--min-interlaced", "0.2"},
        {"--interlace-threshold", "0.2"}, {"--field-order-threshold", "0.1"}, {"--min-bar", "6"},
        {"--bar-change", "3"},          {"--input-format", "raw"},   {"--fps", "30"},
        {"--min-flat", "0.2"},          {"--black-level", "20"},      {"--freeze-noise", "1.5"},
        {"--min-flash", "0.2"},
        {"--frames", "5"},              {"--start", "3"},             {"--json", "x.json"},
        {"--csv", "x.csv"},             {"--html", "x.html"},         {"--threads", "1"},
        {"--run-start", "0"},           {"--range", "nominal"},       {"--range-area", "0.02"},
        {"--min-out-of-range", "0.2"},  {"--edge", "0.5"},            {"--profile", "archive"},
        {"--waivers", "waivers.json"},  {"--log", "x.log"}};
    std::ofstream(dir.file("waivers.json")) << R"([{"type": "black", "first": 0, "last": 30}])";
    std::vector<lumaqc::report::OptionSpec> options(std::begin(lumaqc::report::kReportOptions),
                                                    std::end(lumaqc::report::kReportOptions));
    options.insert(options.end(), std::begin(lumaqc::kInputOptions), std::end(lumaqc::kInputOptions));
    for (const lumaqc::report::OptionSpec& option : options) {
        const std::string name(option.name);
        if (name == "--threads") continue;  // the batch's own: its threads in all
        ASSERT_TRUE(!option.takesValue || values.count(name) != 0) << name << " needs a sample value here";
        const std::string given = option.takesValue ? name + " '" + values.at(name) + "'" : name;
        runShell("rm -f '" + dir.file("out") + "'/*");
        const int status = runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY "' --json-dir out --frames 12 " +
                                    given + " --size 352x288 sample.yuv > summary.txt 2> errors.txt");
        const std::string errors = readFile(dir.file("errors.txt"));
        if (option.scope == lumaqc::report::OptionScope::OneRun) {
            EXPECT_EQ(status, 255) << name;
            EXPECT_EQ(errors, "Unknown option " + name +
                                  " with several inputs (reports go to --json-dir and --csv-dir)\n");
            continue;
        }
        EXPECT_EQ(errors, "") << name;
        const Outputs alone = run(dir, "", "--threads 1 --frames 12 " +
                                               (option.scope == lumaqc::report::OptionScope::EachInput ? given : "") +
                                               " '" + dir.file("sample.yuv") + "' 352 288");
        EXPECT_EQ(status, alone.status) << name;
        EXPECT_TRUE(readFile(dir.file("out/sample.yuv.json")) == alone.json) << name;
    }
}
