// Containers cut by seeking: every legal cut of H.264, HEVC and FFV1 clips
// (B-frames, open GOPs) merges into the whole run, a start reached by seeking
// writes what decoding every frame before it writes, and inputs whose frames
// cannot be numbered by seeking are decoded from their beginning.
#include <gtest/gtest.h>

#include "e2e/runner.hpp"

namespace {

constexpr int kFrames = 100;
const std::string kSource =
    "ffmpeg -v error -y -f lavfi -i testsrc2=size=128x96:rate=25:duration=4 -vf noise=alls=12:allf=t+u ";

struct Outputs {
    int status;
    std::string errors, log, json, csv;
};

// A run in dir with the environment `env` ("" or NAME=VALUE), its log and reports.
Outputs run(const WorkDir& dir, const std::string& env, const std::string& args) {
    runShell("cd '" + dir.path + "' && rm -f metricsResultsCSV.csv out.json out.csv");
    Outputs o;
    o.status = runShell("cd '" + dir.path + "' && " + env + " '" LUMAQC_BINARY
                        "' --threads 1 --json out.json --csv out.csv " + args + " > .stdout 2> .stderr");
    o.errors = readFile(dir.file(".stderr"));
    o.log = readFile(dir.file("metricsResultsCSV.csv"));
    o.json = readFile(dir.file("out.json"));
    o.csv = readFile(dir.file("out.csv"));
    return o;
}

bool haveEncoder(const std::string& name) {
    return runShell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' " + name + " '") == 0;
}

struct Clip {
    const char* name;
    const char* encoder;
    const char* options;
};

// Debian's ffmpeg writes no FFV1 into MP4: MOV goes through the same demuxer
// (with a start timecode, which the merge keeps).
const Clip kClips[] = {
    {"h264.mp4", "libx264", "-bf 3 -g 12 -x264-params open-gop=1 -pix_fmt yuv420p"},
    {"h264.mkv", "libx264", "-bf 3 -g 12 -x264-params open-gop=1 -pix_fmt yuv420p"},
    {"hevc.mp4", "libx265", "-x265-params bframes=3:keyint=12:open-gop=1:log-level=error -pix_fmt yuv420p"},
    {"hevc.mkv", "libx265", "-x265-params bframes=3:keyint=12:open-gop=1:log-level=error -pix_fmt yuv420p"},
    {"ffv1.mkv", "ffv1", ""},
    {"ffv1.mov", "ffv1", "-timecode 10:00:00:00"},
};

class ContainerPieces : public testing::TestWithParam<Clip> {};

TEST_P(ContainerPieces, EveryLegalCutGivesTheWholeRunAndEveryStartTheDecodedOne) {
    const Clip& clip = GetParam();
    if (!haveEncoder(clip.encoder)) GTEST_SKIP() << "ffmpeg has no " << clip.encoder;
    WorkDir dir;
    ASSERT_EQ(runShell("cd '" + dir.path + "' && " + kSource + "-c:v " + clip.encoder + " " + clip.options + " " +
                       clip.name),
              0);
    const Outputs whole = run(dir, "", clip.name);
    ASSERT_EQ(whole.status, 0) << whole.errors;
    ASSERT_EQ(linesOf(whole.log).size(), kFrames + 1u);
    // Two pieces, the second to the end as the cluster job runs a container's
    // last one; from a cut past 51 its warm-up starts after frame 0.
    for (int cut = 9; cut < kFrames; cut += 8) {
        const std::string what = std::string(clip.name) + " cut at " + std::to_string(cut);
        const Outputs first = run(dir, "", "--run-start 0 --frames " + std::to_string(cut) + " " + clip.name);
        runShell("cd '" + dir.path + "' && mv out.json a.json");
        const Outputs second = run(dir, "", "--run-start 0 --start " + std::to_string(cut) + " " + clip.name);
        runShell("cd '" + dir.path + "' && mv out.json b.json");
        EXPECT_EQ(first.status, 0) << what << first.errors;
        EXPECT_EQ(second.status, 0) << what << second.errors;
        std::string joined = linesOf(whole.log)[0] + "\n";
        for (const std::string* piece : {&first.log, &second.log}) {
            const std::vector<std::string> lines = linesOf(*piece);
            for (size_t k = 1; k < lines.size(); ++k) joined += lines[k] + "\n";
        }
        EXPECT_TRUE(joined == whole.log) << what;
        const int merged = runShell("cd '" + dir.path + "' && '" LUMAQC_BINARY
                                    "' merge --json m.json --csv m.csv a.json b.json > /dev/null 2>&1");
        EXPECT_EQ(merged, whole.status) << what;
        EXPECT_TRUE(readFile(dir.file("m.json")) == whole.json) << what;
        EXPECT_TRUE(readFile(dir.file("m.csv")) == whole.csv) << what;
    }
    for (const int start : {13, 61, 97}) {
        const std::string args = "--start " + std::to_string(start) + " " + clip.name;
        const Outputs seeking = run(dir, "", args);
        const Outputs decoding = run(dir, "LUMAQC_CONTAINER_SEEK=off", args);
        const std::string what = std::string(clip.name) + " from " + std::to_string(start);
        EXPECT_EQ(seeking.status, 0) << what << seeking.errors;
        EXPECT_EQ(seeking.status, decoding.status) << what;
        EXPECT_EQ(seeking.errors, decoding.errors) << what;
        EXPECT_TRUE(seeking.log == decoding.log) << what;
        EXPECT_TRUE(seeking.json == decoding.json) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, ContainerPieces, testing::ValuesIn(kClips),
                         [](const testing::TestParamInfo<Clip>& info) {
                             std::string name = info.param.name;
                             name[name.find('.')] = '_';
                             return name;
                         });

// Inputs whose frames cannot all be numbered by their timestamps start by
// decoding from their beginning: a start writes what it writes without seeking.
TEST(WholeContainers, InputsThatStayWholeDecodeFromTheBeginning) {
    if (!haveEncoder("libx264")) GTEST_SKIP() << "ffmpeg has no libx264";
    WorkDir dir;
    // Half at 25 and half at 30 frames per second; frames on the grid of 25
    // per second, every seventh followed by a missing one.
    const std::string vfr =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=128x96:rate=25:duration=2 -f lavfi -i "
        "testsrc2=size=128x96:rate=30:duration=2 -filter_complex '[0][1]concat=n=2:v=1,settb=1/1000' -vsync vfr "
        "-c:v libx264 -g 12 ";
    ASSERT_EQ(runShell("cd '" + dir.path + "' && " + vfr + "vfr.mp4 && " + vfr + "vfr.mkv && " + kSource +
                       "-c:v libx264 -g 12 clip.ts && " + kSource + "-c:v mpeg4 -g 12 clip.avi && " + kSource +
                       "-c:v libx264 -bf 3 -g 12 clip.mkv && " + kSource +
                       "-c:v ffv1 -f matroska - > streamed.mkv && ffmpeg -v error -y -f lavfi -i "
                       "testsrc2=size=128x96:rate=25:duration=4 -vf \"setpts='(N+floor(N/7))/25/TB'\" -vsync vfr "
                       "-c:v libx264 -g 12 gaps.mkv"),
              0);
    struct Case {
        std::string feed, input;
    };
    const Case cases[] = {{"", "vfr.mp4"},      {"", "vfr.mkv"},      {"", "gaps.mkv"}, {"", "clip.ts"},
                          {"", "clip.avi"},     {"", "streamed.mkv"}, {"cat clip.mkv |", "-"}};
    for (const Case& c : cases) {
        const std::string file = c.input == "-" ? "clip.mkv" : c.input;
        for (const int start : {1, 61}) {
            const std::string what = c.feed + c.input + " from " + std::to_string(start);
            const Outputs decoding = run(dir, "LUMAQC_CONTAINER_SEEK=off", "--start " + std::to_string(start) + " " + file);
            const Outputs read = run(dir, c.feed, "--start " + std::to_string(start) + " " + c.input);
            EXPECT_EQ(read.status, 0) << what << read.errors;
            EXPECT_EQ(read.errors, decoding.errors) << what;
            EXPECT_FALSE(read.log.empty()) << what;
            EXPECT_TRUE(read.log == decoding.log) << what;
        }
    }
}

// A packet damaged before the key frame a start seeks to is never read: the
// decoding from the beginning reports it, the seek does not, and the frames
// from the start are the same.
TEST(ContainerSeek, ASeekSkipsWhatLiesBeforeItsKeyFrame) {
    if (!haveEncoder("libx264")) GTEST_SKIP() << "ffmpeg has no libx264";
    WorkDir dir;
    ASSERT_EQ(runShell("cd '" + dir.path + "' && " + kSource + "-c:v libx264 -bf 0 -g 12 clip.mp4 && " +
                       "ffprobe -v error -select_streams v -show_entries packet=pos,size -of csv=p=0 clip.mp4 | "
                       "sed -n 3p > third.txt"),
              0);
    const std::vector<std::string> third = linesOf(readFile(dir.file("third.txt")));
    ASSERT_EQ(third.size(), 1u);
    const size_t comma = third[0].find(',');
    const size_t at = std::stoul(third[0].substr(0, comma)), size = std::stoul(third[0].substr(comma + 1));
    std::string bytes = readFile(dir.file("clip.mp4"));
    for (size_t k = at + 4; k < at + size; ++k) bytes[k] = static_cast<char>(bytes[k] ^ 0x5a);
    dir.write("clip.mp4", std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const Outputs seeking = run(dir, "", "--start 80 clip.mp4");
    const Outputs decoding = run(dir, "LUMAQC_CONTAINER_SEEK=off", "--start 80 clip.mp4");
    EXPECT_EQ(seeking.status, 0) << seeking.errors;
    EXPECT_EQ(seeking.errors, "");
    EXPECT_NE(decoding.errors.find("damaged packet"), std::string::npos) << decoding.errors;
    EXPECT_FALSE(seeking.log.empty());
    EXPECT_TRUE(seeking.log == decoding.log);
}

}  // namespace
