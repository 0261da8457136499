#include <gtest/gtest.h>

#include "e2e/runner.hpp"

namespace {
// Column indexes of a log row.
enum { kFrame = 0, kTA = 7, kFreezing = 9, kContrast = 11, kFlickering = 15 };

std::vector<uint8_t> rampClip(int w, int h, int frames) {
    return makeClip(w, h, frames, [&](int t) {
        std::vector<uint8_t> y(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>((i * 7 + t * 13) & 0xff);
        return y;
    });
}
}  // namespace

TEST(Driver, UsageWithTooFewArgumentsCreatesNothing) {
    WorkDir dir;
    RunResult r = runIn(dir, "clip.yuv 352");
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Not enough parameters\n\nUsage : "), std::string::npos);
    EXPECT_NE(r.out.find(" nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n, where [***] is "
                         "optional parameter.\n\n"),
              std::string::npos);
    EXPECT_FALSE(r.logExists);
}

TEST(Driver, UnopenableVideoLeavesAnExistingLogIntact) {
    WorkDir dir;
    dir.write("metricsResultsCSV.csv", {'o', 'l', 'd'});
    RunResult r = runIn(dir, "missing.yuv 352 288");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error opening the file missing.yuv: No such file or directory \n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.log, "old");

    WorkDir empty;
    r = runIn(empty, "missing.yuv 352 288");
    EXPECT_FALSE(r.logExists);
}

TEST(Driver, BadSizesAndStartFrameAreRejectedBeforeAnythingIsWritten) {
    WorkDir dir;
    dir.write("clip.yuv", rampClip(16, 16, 2));
    dir.write("metricsResultsCSV.csv", {'o', 'l', 'd'});
    for (const char* args : {"clip.yuv 0 16", "clip.yuv 16 -2", "clip.yuv 100000 100000", "clip.yuv 16 16 25 1 -1"}) {
        RunResult r = runIn(dir, args);
        EXPECT_EQ(r.status, 255) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(linesOf(r.err).size(), 1u) << args << ": " << r.err;
        EXPECT_EQ(r.log, "old") << args;
    }
}

TEST(Driver, WholeFramesOfTheFileAtDefaultRate) {
    WorkDir dir;
    std::vector<uint8_t> clip = rampClip(16, 16, 3);
    clip.resize(clip.size() - 16 * 16 * 3 / 2 / 2);  // 2.5 frames
    dir.write("clip.yuv", clip);
    RunResult r = runIn(dir, "clip.yuv 16 16");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Video file clip.yuv opened successfully!\n\nWidth = 16, Height = 16, FPS = 25.00, Number "
                          "of Frames = 2, Start Frame = 0\n\nFrame: \tBlockiness: ",
                          0),
              0u);
    const auto log = linesOf(r.log);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].substr(0, 7), "00000 \t");
    EXPECT_EQ(log[2].substr(0, 7), "00001 \t");
    // One warning counts the bytes after the last whole frame.
    EXPECT_EQ(linesOf(r.err).size(), 1u);
    EXPECT_EQ(r.err.rfind("Warning: clip.yuv ends with " + std::to_string(clip.size() % (16 * 16 * 3 / 2)) + " bytes after", 0), 0u) << r.err;
    EXPECT_NE(r.out.find("\nAverage calculation time per frame for each metric: \n\tBlockiness: "), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 21), "\nFile stream closed\n\n");
}

TEST(Driver, StartFrameAndCountNumberTheRowsAndSkipTheFirstComparison) {
    WorkDir dir;
    dir.write("clip.yuv", rampClip(32, 16, 14));
    RunResult r = runIn(dir, "clip.yuv 32 16 25 3 10");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto log = linesOf(r.log);
    ASSERT_EQ(log.size(), 4u);
    const auto first = fieldsOf(log[1]);
    EXPECT_EQ(first[kFrame], "00010");
    EXPECT_EQ(first[kTA], "0.00000");
    EXPECT_EQ(first[kFreezing], "0");
    EXPECT_EQ(first[kFlickering], "0.00000");
    EXPECT_EQ(fieldsOf(log[2])[kFrame], "00011");
    EXPECT_EQ(fieldsOf(log[3])[kFrame], "00012");
    EXPECT_NE(r.out.find("Number of Frames = 3, Start Frame = 10"), std::string::npos);
}

TEST(Driver, ConsoleAndLogCarryTheSameValues) {
    WorkDir dir;
    dir.write("clip.yuv", rampClip(24, 16, 2));
    RunResult r = runIn(dir, "clip.yuv 24 16");
    ASSERT_EQ(r.status, 0);
    const auto log = linesOf(r.log);
    ASSERT_EQ(log.size(), 3u);
    const auto out = linesOf(r.out);
    std::vector<std::string> consoleRows;
    for (const auto& line : out)
        if (line.rfind("0000", 0) == 0) consoleRows.push_back(line);
    ASSERT_EQ(consoleRows.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> a, b;
        for (auto& f : fieldsOf(consoleRows[i]))
            if (!f.empty()) a.push_back(f);
        for (auto& f : fieldsOf(log[i + 1]))
            if (!f.empty()) b.push_back(f);
        EXPECT_EQ(a, b);
        EXPECT_EQ(b.size(), 16u);
    }
    EXPECT_NE(fieldsOf(log[1])[kContrast], "0.00000");  // contrast is computed
}

TEST(Driver, FrameCountsOfZeroOrBelowAnalyseNothing) {
    WorkDir dir;
    dir.write("clip.yuv", rampClip(16, 16, 2));
    for (const char* args : {"clip.yuv 16 16 25 0", "clip.yuv 16 16 25 -5"}) {
        RunResult r = runIn(dir, args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(linesOf(r.log).size(), 1u) << args;
        EXPECT_NE(r.out.find("milliseconds per frame"), std::string::npos);
    }
    // The averages divide by the frame count as given: 0 / 0 for none,
    // 0 / -5 (a negative zero) for a negative count.
    EXPECT_NE(runIn(dir, "clip.yuv 16 16 25 0").out.find("Blockiness: -nan ms"), std::string::npos);
    const std::string negative = runIn(dir, "clip.yuv 16 16 25 -5").out;
    EXPECT_NE(negative.find("Blockiness: -0.000000 ms"), std::string::npos) << negative;
    EXPECT_NE(negative.find("Number of Frames = -5"), std::string::npos) << negative;
    // A file without a whole frame has nothing to analyse: refused before the log.
    WorkDir emptyFile;
    emptyFile.write("clip.yuv", {});
    RunResult r = runIn(emptyFile, "clip.yuv 16 16");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "clip.yuv holds no whole frame of 16 x 16 (384 bytes each): it has 0 bytes\n");
    EXPECT_FALSE(r.logExists);
}

TEST(Driver, UnparsableFrameRateShowsZero) {
    WorkDir dir;
    dir.write("clip.yuv", rampClip(16, 16, 1));
    RunResult r = runIn(dir, "clip.yuv 16 16 abc");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("FPS = 0.00, Number of Frames = 1"), std::string::npos);
}

TEST(Driver, FramesPastTheEndOfTheFileAreNotAnalysed) {
    WorkDir dir;
    dir.write("clip.yuv", rampClip(16, 16, 3));
    RunResult r = runIn(dir, "clip.yuv 16 16 25 5 1");
    EXPECT_EQ(r.status, 0);
    const auto log = linesOf(r.log);
    ASSERT_EQ(log.size(), 3u);  // frames 1 and 2
    EXPECT_EQ(fieldsOf(log[2])[kFrame], "00002");
    EXPECT_EQ(linesOf(r.err).size(), 1u);
    EXPECT_NE(r.err.find("2 of 5 requested frames analysed"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("File stream closed"), std::string::npos);
}

TEST(Driver, ALogThatCannotBeCreatedStillPrintsEveryRow) {
    WorkDir dir;
    dir.write("clip.yuv", rampClip(16, 16, 2));
    // A directory in the log's place cannot be opened for writing, even by root.
    ASSERT_EQ(runShell("mkdir '" + dir.file("metricsResultsCSV.csv") + "'"), 0);
    RunResult r = runIn(dir, "clip.yuv 16 16");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Cannot create the log file: Is a directory\n");
    EXPECT_NE(r.out.find("\n00000 \t"), std::string::npos);
    EXPECT_NE(r.out.find("\n00001 \t"), std::string::npos);
    EXPECT_NE(r.out.find("File stream closed"), std::string::npos);
}

TEST(Driver, DirectoryAsVideoIsRefusedBeforeTheLog) {
    WorkDir dir;
    runShell("mkdir '" + dir.file("adir") + "'");
    dir.write("metricsResultsCSV.csv", {'o', 'l', 'd'});
    RunResult r = runIn(dir, "adir 16 16 25 1");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "adir is a directory\n");
    EXPECT_EQ(r.log, "old");
}
