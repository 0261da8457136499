// Every input form of the sample clip gives the log of the raw run; option
// mistakes are one-line usage errors that create no log.
#include <gtest/gtest.h>

#include "e2e/runner.hpp"

namespace {

const std::string kRaw = "-f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i sample.yuv";

bool haveFfmpeg() { return runShell("command -v ffmpeg >/dev/null 2>&1") == 0; }

// The sample clip as raw YUV and as a Y4M written here (25 fps, 4:2:0).
void makeInputs(const WorkDir& dir) {
    runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("sample.yuv") + "' >/dev/null");
    const std::string raw = readFile(dir.file("sample.yuv"));
    std::string y4m = "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg\n";
    const size_t frameBytes = 352 * 288 * 3 / 2;
    for (size_t at = 0; at < raw.size(); at += frameBytes) y4m += "FRAME\n" + raw.substr(at, frameBytes);
    std::ofstream(dir.file("clip.y4m"), std::ios::binary) << y4m;
}

// Runs `feed lumaqc args` in dir; feed is a shell pipeline ending in "|", or "".
RunResult runFed(const WorkDir& dir, const std::string& feed, const std::string& args) {
    RunResult r;
    r.status = runShell("cd '" + dir.path + "' && " + feed + " '" LUMAQC_BINARY "' " + args + " > .stdout 2> .stderr");
    r.out = readFile(dir.file(".stdout"));
    r.err = readFile(dir.file(".stderr"));
    r.logExists = fileExists(dir.file("metricsResultsCSV.csv"));
    if (r.logExists) r.log = readFile(dir.file("metricsResultsCSV.csv"));
    runShell("rm -f '" + dir.file("metricsResultsCSV.csv") + "'");
    return r;
}

}  // namespace

TEST(Inputs, EveryFormOfTheSampleGivesTheRawRunsLog) {
    WorkDir dir;
    makeInputs(dir);
    struct Case {
        std::string make;  // ffmpeg arguments that make the input, "" for none
        std::string feed, args, rawArgs;
        bool countKnown;
    };
    const Case cases[] = {
        {"", "", "clip.y4m", "sample.yuv 352 288", true},
        {"", "", "clip.y4m 352 288 25 5 10", "sample.yuv 352 288 25 5 10", true},
        {"", "", "--start 50 clip.y4m", "sample.yuv 352 288 25 10 50", true},
        {"", "cat sample.yuv |", "- 352 288", "sample.yuv 352 288", false},
        {"", "cat sample.yuv |", "- 352 288 --frames 7 --start 3", "sample.yuv 352 288 25 7 3", true},
        {"", "cat clip.y4m |", "-", "sample.yuv 352 288", false},
        {"", "", "--input-format raw --fps 12.5 -- sample.yuv 352 288", "sample.yuv 352 288 12.5", true},
        {"", "ffmpeg -v error " + kRaw + " -f yuv4mpegpipe - |", "-", "sample.yuv 352 288", false},
        {kRaw + " -c:v ffv1 clip.mkv", "", "clip.mkv", "sample.yuv 352 288", false},
        {kRaw + " -c:v rawvideo clip.mkv", "cat clip.mkv |", "--input-format libav -", "sample.yuv 352 288", false},
    };
    for (const Case& c : cases) {
        if (!haveFfmpeg() && (!c.make.empty() || c.feed.find("ffmpeg") != std::string::npos))
            GTEST_SKIP() << "the ffmpeg command is missing";
        if (!c.make.empty()) {
            ASSERT_EQ(runShell("cd '" + dir.path + "' && ffmpeg -v error -y " + c.make), 0) << c.make;
        }
        const RunResult expected = runFed(dir, "", c.rawArgs);
        const RunResult got = runFed(dir, c.feed, c.args);
        ASSERT_EQ(expected.status, 0);
        EXPECT_EQ(got.status, 0) << c.args << ": " << got.err;
        EXPECT_EQ(got.err, "") << c.args;
        EXPECT_TRUE(got.log == expected.log) << c.args;
        EXPECT_NE(got.out.find(c.countKnown ? "Number of Frames = " : "Number of Frames = unknown, Start Frame = "),
                  std::string::npos)
            << c.args;
        // The console rows are the raw run's too.
        const size_t from = expected.out.find("\n00"), to = expected.out.find("Calculation time");
        EXPECT_NE(got.out.find(expected.out.substr(from, to - from)), std::string::npos) << c.args;
    }
}

TEST(Inputs, OptionMistakesAreUsageErrorsThatCreateNoLog) {
    WorkDir dir;
    makeInputs(dir);
    struct Case {
        std::string args;
        int status;
        std::string err;  // expected in the error stream ("" none)
        std::string out;  // expected in the output
    };
    const Case cases[] = {
        {"sample.yuv 352 288 25 --fps 30", 255, "The frame rate is given twice", ""},
        {"sample.yuv 352 288 25 5 --frames 6", 255, "The frame count is given twice", ""},
        {"sample.yuv 352 288 25 5 1 --start=2", 255, "The start frame is given twice", ""},
        {"--fps abc sample.yuv 352 288", 255, "--fps needs a positive number, not 'abc'", ""},
        {"--frames -3 sample.yuv 352 288", 255, "--frames needs a whole number", ""},
        {"--bogus sample.yuv", 255, "Unknown option --bogus", ""},
        {"--input-format mpeg sample.yuv", 255, "--input-format must be raw, y4m or libav, not 'mpeg'", ""},
        {"sample.yuv --start", 255, "Option --start needs a value", ""},
        {"clip.y4m 320 240", 255, "the Y4M header gives 352 x 288, not the 320 x 240 given", ""},
        {"--input-format y4m sample.yuv", 255, "is not a Y4M stream", ""},
        {"--fps 5", 255, "", "Not enough parameters"},
        {"--help", 0, "", "  cat clip.yuv | "},
    };
    for (const Case& c : cases) {
        const RunResult r = runFed(dir, "", c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_FALSE(r.logExists) << c.args;
        EXPECT_LE(linesOf(r.err).size(), 1u) << c.args;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args << ": " << r.out;
    }
    // The same value given both ways is no mistake.
    EXPECT_EQ(runFed(dir, "", "sample.yuv 352 288 25 3 --frames 3 --fps 25").status, 0);
}
