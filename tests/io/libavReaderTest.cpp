// The libav reader (and Y4M written by ffmpeg) against the raw sample clip and
// against the ffmpeg command's own decoding.
#include <gtest/gtest.h>

#include <cmath>

#include "io/clips.hpp"

using lumaqc::io::InputRequest;
using lumaqc::io::ReadStatus;
using namespace clips;

namespace {

const std::string kRawInput = "-f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i sample.yuv";

// Runs ffmpeg inside the scratch directory; true on success.
bool ffmpeg(const std::string& args) { return shell("cd '" + dir() + "' && ffmpeg -v error -y " + args) == 0; }

std::string h264Encoder() {
    return shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' libx264 '") == 0 ? "libx264" : "mpeg4";
}

std::vector<double> ffprobeTimes(const std::string& name) {
    const std::string out = file("times.txt");
    shell("ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp_time -of csv=p=0 '" +
          file(name) + "' > '" + out + "'");
    std::vector<double> times;
    std::istringstream lines(readFile(out));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) times.push_back(std::strtod(line.c_str(), nullptr));
    return times;
}

#define REQUIRE_FFMPEG()                                                          \
    if (!lumaqc::io::libavAvailable()) GTEST_SKIP() << "built without libav";    \
    if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is missing"

}  // namespace

TEST(LibavReader, LosslessClipsGiveTheRawLuma) {
    REQUIRE_FFMPEG();
    writeY4m("ten.y4m", "420p10", 10, k420);
    writeY4m("sixteen.y4m", "mono16", 16, 0);
    struct Case {
        std::string name, make, format, reader;
        Via via;
        int64_t start, frames;
    };
    const Case cases[] = {
        {"raw.mkv", kRawInput + " -c:v rawvideo raw.mkv", "", "libav", Via::File, 0, -1},
        {"ffv1.mkv", kRawInput + " -c:v ffv1 ffv1.mkv", "", "libav", Via::File, 20, 15},
        {"ffv1.mkv", "", "", "libav", Via::Fifo, 0, -1},
        {"ffv1-10.mkv", "-r 25 -i ten.y4m -c:v ffv1 -pix_fmt yuv420p10le ffv1-10.mkv", "", "libav", Via::File, 0, -1},
        {"ffv1-10.mkv", "", "", "libav", Via::Stdin, 50, -1},
        {"nv12.mkv", kRawInput + " -c:v rawvideo -pix_fmt nv12 nv12.mkv", "", "libav", Via::File, 0, -1},
        {"grey.mkv", kRawInput + " -vf extractplanes=y -c:v ffv1 grey.mkv", "", "libav", Via::Stdin, 0, -1},
        {"grey16.mkv", "-r 25 -i sixteen.y4m -c:v ffv1 grey16.mkv", "", "libav", Via::File, 0, -1},
        {"ff422.y4m", kRawInput + " -pix_fmt yuv422p ff422.y4m", "", "y4m", Via::File, 0, -1},
        {"ff444.y4m", kRawInput + " -pix_fmt yuv444p ff444.y4m", "", "y4m", Via::Stdin, 0, -1},
        {"ffmono.y4m", kRawInput + " -vf extractplanes=y ffmono.y4m", "", "y4m", Via::Fifo, 0, -1},
        {"ff422.y4m", "", "libav", "libav", Via::Fifo, 0, 30},
    };
    for (const Case& c : cases) {
        const std::string label = c.name + " via " + std::to_string(static_cast<int>(c.via));
        if (!c.make.empty()) {
            ASSERT_TRUE(ffmpeg(c.make)) << c.make;
        }
        InputRequest request;
        request.format = c.format;
        request.start = c.start;
        request.frames = c.frames;
        Collected got = through(c.via, file(c.name), request);
        ASSERT_EQ(got.openError, "") << label;
        EXPECT_EQ(got.info.reader, c.reader) << label;
        EXPECT_EQ(got.info.width, kW) << label;
        EXPECT_EQ(got.info.height, kH) << label;
        EXPECT_DOUBLE_EQ(got.info.fps, 25.0) << label;
        const int count = c.frames < 0 ? kFrames - static_cast<int>(c.start) : static_cast<int>(c.frames);
        ASSERT_EQ(got.planes.size(), static_cast<size_t>(count)) << label;
        for (int k = 0; k < count; ++k) {
            EXPECT_EQ(got.indexes[k], c.start + k) << label;
            EXPECT_NEAR(got.pts[k], (c.start + k) / 25.0, 1e-3) << label;
            EXPECT_TRUE(got.planes[k] == sampleLuma()[c.start + k]) << label << " frame " << k;
        }
        EXPECT_EQ(got.last.status, ReadStatus::End) << label;
        EXPECT_TRUE(got.warnings.empty()) << label << ": " << got.warnings.front();
    }
}

TEST(LibavReader, LossyAndRgbClipsMatchFfmpegsDecoding) {
    REQUIRE_FFMPEG();
    const std::string encoder = h264Encoder();
    ASSERT_TRUE(ffmpeg(kRawInput + " -c:v " + encoder + " -movflags +faststart lossy.mp4"));
    ASSERT_TRUE(ffmpeg(kRawInput + " -c:v ffv1 -pix_fmt bgr0 rgb.mkv"));
    struct Case {
        std::string name, decodeAs;
        Via via;
        int64_t start, frames;
        int32_t threads;
    };
    const Case cases[] = {
        {"lossy.mp4", "yuv420p", Via::File, 0, -1, 0},
        {"lossy.mp4", "yuv420p", Via::File, 7, 5, 1},
        {"lossy.mp4", "yuv420p", Via::Fifo, 0, -1, 2},
        {"rgb.mkv", "gray", Via::File, 0, -1, 0},
    };
    for (const Case& c : cases) {
        const std::string label = c.name + " start " + std::to_string(c.start);
        ASSERT_TRUE(ffmpeg("-i " + c.name + " -vsync passthrough -f rawvideo -pix_fmt " + c.decodeAs + " decoded.raw"));
        const std::string decoded = readFile(file("decoded.raw"));
        const size_t frameBytes = c.decodeAs == "gray" ? kLuma : kFrameBytes;
        const std::vector<double> times = ffprobeTimes(c.name);
        const size_t total = decoded.size() / frameBytes;
        ASSERT_EQ(times.size(), total) << label;
        InputRequest request;
        request.start = c.start;
        request.frames = c.frames;
        request.threads = c.threads;
        Collected got = through(c.via, file(c.name), request);
        ASSERT_EQ(got.openError, "") << label;
        EXPECT_DOUBLE_EQ(got.info.fps, 25.0) << label;
        const size_t count = c.frames < 0 ? total - static_cast<size_t>(c.start) : static_cast<size_t>(c.frames);
        ASSERT_EQ(got.planes.size(), count) << label;
        for (size_t k = 0; k < count; ++k) {
            const size_t i = static_cast<size_t>(c.start) + k;
            EXPECT_NEAR(got.pts[k], times[i], 1e-6) << label << " frame " << i;
            EXPECT_TRUE(got.planes[k] == decoded.substr(i * frameBytes, kLuma)) << label << " frame " << i;
        }
        EXPECT_EQ(got.last.status, ReadStatus::End) << label;
    }
}

TEST(LibavReader, DamageAndBadInputs) {
    REQUIRE_FFMPEG();
    const std::string encoder = h264Encoder();
    ASSERT_TRUE(ffmpeg(kRawInput + " -c:v " + encoder + " whole.mp4"));
    ASSERT_TRUE(ffmpeg(kRawInput + " -c:v " + encoder + " -f mpegts a.ts"));
    ASSERT_TRUE(ffmpeg(kRawInput + " -vf scale=176:144 -c:v " + encoder + " -f mpegts b.ts"));
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=440:duration=1 -c:a flac audio.mka"));
    const std::string mp4 = readFile(file("whole.mp4"));
    writeFile(file("truncated.mp4"), mp4.substr(0, mp4.size() / 2));
    writeFile(file("empty.mkv"), "");
    writeFile(file("notes.txt"), "Shot list for Tuesday\n1. wide\n2. close-up\n");
    const std::string ts = readFile(file("a.ts"));
    writeFile(file("ab.ts"), ts + readFile(file("b.ts")));
    std::string damaged = ts;
    for (size_t i = damaged.size() / 3; i < damaged.size() / 3 + 6000; ++i) damaged[i] = static_cast<char>(i * 131);
    writeFile(file("damaged.ts"), damaged);
    struct Case {
        std::string name, openError;  // openError empty: opens, then reads to `last`
        ReadStatus last;
        std::string lastMessage;
        bool warned;
    };
    const Case cases[] = {
        {"truncated.mp4", "not a video file that libav can read", ReadStatus::End, "", false},
        {"notes.txt", "not a video file that libav can read", ReadStatus::End, "", false},
        {"audio.mka", "has no video stream", ReadStatus::End, "", false},
        {"empty.mkv", file("empty.mkv") + " is empty", ReadStatus::End, "", false},
        {"ab.ts", "", ReadStatus::Error, "Frame 60 of " + file("ab.ts") + " changes the picture size from 352 x 288 to 176 x 144", false},
        {"damaged.ts", "", ReadStatus::End, "", true},
    };
    for (const Case& c : cases) {
        InputRequest request;
        request.path = file(c.name);
        Collected got = collect(request);
        EXPECT_NE(got.openError.find(c.openError), std::string::npos) << c.name << ": " << got.openError;
        EXPECT_EQ(got.openError.find('\n'), std::string::npos) << c.name;
        if (!c.openError.empty()) continue;
        EXPECT_EQ(got.last.status, c.last) << c.name << ": " << got.last.message;
        EXPECT_EQ(got.last.message, c.lastMessage) << c.name;
        EXPECT_GE(got.planes.size(), 30u) << c.name;
        EXPECT_EQ(got.warnings.empty(), !c.warned) << c.name;
        for (const std::string& w : got.warnings) EXPECT_NE(w.find("before frame "), std::string::npos) << w;
    }
}

// Sizes given for a container read its bytes as raw pictures: the reader warns
// with the first frame for every container ffmpeg writes, never for raw YUV.
TEST(Readers, SizesGivenForAContainerAreWarnedAbout) {
    if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is missing";
    struct Case {
        std::string name, make;  // make: ffmpeg's output options, or empty for raw YUV written here
        bool container;
    };
    const std::string lossless = " -c:v ffv1 ";
    const std::vector<Case> cases = {
        {"c.mp4", "-c:v mpeg4 -frames:v 8", true},
        {"c.mov", "-c:v mpeg4 -frames:v 8", true},
        {"c.mkv", lossless + "-frames:v 8", true},
        {"c.avi", lossless + "-frames:v 8", true},
        {"c.flv", "-c:v flv -frames:v 8", true},
        {"c.ts", "-c:v mpeg2video -frames:v 8", true},
        {"c.mpg", "-c:v mpeg2video -f vob -frames:v 8", true},
        {"c.mxf", "-c:v mpeg2video -frames:v 8", true},
        {"c.ogg", "-c:v libtheora -frames:v 8", true},
        {"sample.yuv", "", false},
        {"flat47.yuv", "", false},  // every byte is a transport stream's sync byte
        {"zero.yuv", "", false},
    };
    writeFile(file("flat47.yuv"), std::string(kFrameBytes * 4, '\x47'));
    writeFile(file("zero.yuv"), std::string(kFrameBytes * 4, '\0'));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.make.empty() && !ffmpeg(kRawInput + " " + c.make + " " + c.name)) {
            ASSERT_EQ(c.name, "c.ogg") << "ffmpeg could not write it";  // theora is an optional encoder
            continue;
        }
        for (const std::string& format : {std::string(), std::string("raw")}) {
            InputRequest request;
            request.path = file(c.name);
            request.format = format;
            request.width = 16;
            request.height = 16;
            std::string error;
            auto reader = lumaqc::io::openReader(request, &error);
            ASSERT_TRUE(reader) << error;
            const auto first = reader->next();
            const bool warned = first.warnings.size() == 1 &&
                                first.warnings[0].find("WIDTH and HEIGHT make it read as raw") != std::string::npos;
            EXPECT_EQ(warned, c.container && format.empty()) << testing::PrintToString(first.warnings);
            EXPECT_EQ(first.status, ReadStatus::Frame);
        }
    }
}

namespace {

bool libavMapped() {
    const std::string maps = readFile("/proc/self/maps");
    for (const char* name : {"/libavcodec.so", "/libavformat.so", "/libavutil.so", "/libswscale.so"})
        if (maps.find(name) != std::string::npos) return true;
    return false;
}

}  // namespace

// FFmpeg's libraries are mapped by the first container read, not before.
TEST(LibavReader, OnlyAContainerMapsFfmpegsLibraries) {
    REQUIRE_FFMPEG();
    ASSERT_TRUE(ffmpeg(kRawInput + " -c:v ffv1 maps.mkv"));
    // Run alone (as CTest runs it) nothing may be mapped yet; after other tests a container may have been read.
    if (testing::UnitTest::GetInstance()->test_to_run_count() > 1 && libavMapped())
        GTEST_SKIP() << "a test before this one in this process may have read a container";
    writeY4m("maps.y4m", "420jpeg", 8, k420);
    struct Case {
        std::string name;
        bool sized, mapped;
    };
    const Case cases[] = {{"sample.yuv", true, false}, {"maps.y4m", false, false}, {"maps.mkv", false, true}};
    for (const Case& c : cases) {
        InputRequest request;
        request.path = file(c.name);
        if (c.sized) {
            request.width = kW;
            request.height = kH;
        }
        const Collected got = collect(request);
        EXPECT_EQ(got.planes, sampleLuma()) << c.name << ": " << got.openError;
        EXPECT_EQ(libavMapped(), c.mapped) << c.name;
    }
}
