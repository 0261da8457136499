// Raw and Y4M readers against the luma planes of the raw sample clip.
#include <gtest/gtest.h>

#include "io/clips.hpp"

using lumaqc::io::InputRequest;
using lumaqc::io::ReadStatus;
using namespace clips;

namespace {

std::string sampleWithTail() {
    const std::string path = file("tail.yuv");
    writeFile(path, readFile(file("sample.yuv")) + std::string(1000, '\x33'));
    return path;
}


struct RawCase {
    Via via;
    int64_t start, frames;
    double fps;  // 0: not given
    bool target;
    int count;
    ReadStatus last;
    size_t lastBytes;
    bool warned;
};

}  // namespace

TEST(RawReader, FramesMatchTheFileThroughEverySource) {
    const std::string clip = sampleWithTail();  // 60 frames and 1000 bytes of a 61st
    const RawCase cases[] = {
        {Via::File, 0, -1, 0, false, 60, ReadStatus::End, 0, false},
        {Via::File, 55, -1, 50, true, 5, ReadStatus::End, 0, false},
        {Via::File, 58, 5, 0, true, 2, ReadStatus::ShortFrame, 1000, false},
        {Via::Fifo, 0, -1, 0, true, 60, ReadStatus::End, 0, true},
        {Via::Fifo, 58, 5, 0, false, 2, ReadStatus::ShortFrame, 1000, false},
        {Via::Stdin, 10, 3, 0, true, 3, ReadStatus::End, 0, false},
        {Via::Stdin, 0, -1, 0, false, 60, ReadStatus::End, 0, true},
        {Via::Stdin, 70, 2, 0, false, 0, ReadStatus::ShortFrame, 0, false},
    };
    std::vector<uint8_t> target(kLuma);
    for (const RawCase& c : cases) {
        const std::string label = "via " + std::to_string(static_cast<int>(c.via)) + " start " +
                                  std::to_string(c.start) + " frames " + std::to_string(c.frames);
        InputRequest request;
        request.width = kW;
        request.height = kH;
        request.start = c.start;
        request.frames = c.frames;
        request.fps = c.fps;
        request.fpsGiven = c.fps > 0;
        Collected got = through(c.via, clip, request, c.target ? target.data() : nullptr);
        ASSERT_EQ(got.openError, "") << label;
        EXPECT_EQ(got.info.reader, "raw") << label;
        EXPECT_EQ(got.info.seekable, c.via == Via::File) << label;
        EXPECT_EQ(got.info.frameCount, c.via == Via::File ? std::max<int64_t>(0, 60 - c.start) : -1) << label;
        ASSERT_EQ(got.planes.size(), static_cast<size_t>(c.count)) << label;
        const double fps = c.fps > 0 ? c.fps : 25.0;
        for (int k = 0; k < c.count; ++k) {
            EXPECT_EQ(got.indexes[k], c.start + k) << label;
            EXPECT_EQ(got.pts[k], static_cast<double>(c.start + k) / fps) << label;
            EXPECT_TRUE(got.planes[k] == sampleLuma()[c.start + k]) << label << " frame " << k;
        }
        EXPECT_EQ(got.last.status, c.last) << label;
        EXPECT_EQ(got.last.index, c.start + c.count) << label;
        EXPECT_EQ(got.last.bytesRead, c.lastBytes) << label;
        EXPECT_EQ(got.warnings.empty(), !c.warned) << label;
    }
    // A file is refused when opened with a start frame past its end (a stream
    // finds out by reading).
    InputRequest request;
    request.width = kW;
    request.height = kH;
    request.start = 70;
    request.frames = 2;
    EXPECT_EQ(through(Via::File, clip, request).openError,
              "The start frame 70 lies past the end of " + clip + ", which holds 60 whole frames of " +
                  std::to_string(kW) + " x " + std::to_string(kH));
}

TEST(Y4mReader, EveryLayoutAndDepthGivesTheRawLuma) {
    struct Case {
        std::string colour;
        int depth;
        size_t chroma;
        Via via;
        int64_t start, frames;
        bool lowOnes;
    };
    const Case cases[] = {
        {"420jpeg", 8, k420, Via::File, 0, -1, false}, {"422", 8, k422, Via::Fifo, 0, -1, false},
        {"444", 8, k444, Via::Stdin, 3, 4, false},     {"mono", 8, 0, Via::File, 50, -1, false},
        {"420p10", 10, k420, Via::File, 0, -1, false}, {"422p10", 10, k422, Via::Fifo, 0, -1, false},
        {"444p12", 12, k444, Via::File, 2, 5, false},  {"mono16", 16, 0, Via::Stdin, 0, -1, false},
        {"420p10", 10, k420, Via::File, 0, -1, true},  {"monop12", 12, 0, Via::Fifo, 57, 3, true},
    };
    std::vector<uint8_t> target(kLuma);
    for (const Case& c : cases) {
        const std::string label = c.colour + (c.lowOnes ? " low bits set" : "") + " via " +
                                  std::to_string(static_cast<int>(c.via));
        InputRequest request;
        request.start = c.start;
        request.frames = c.frames;
        Collected got = through(c.via, writeY4m("clip.y4m", c.colour, c.depth, c.chroma, c.lowOnes), request,
                                c.via == Via::Fifo ? target.data() : nullptr);
        ASSERT_EQ(got.openError, "") << label;
        EXPECT_EQ(got.info.reader, "y4m");
        EXPECT_EQ(got.info.width, kW);
        EXPECT_EQ(got.info.height, kH);
        EXPECT_TRUE(got.info.fpsKnown);
        EXPECT_DOUBLE_EQ(got.info.fps, 30000.0 / 1001.0);
        EXPECT_EQ(got.info.frameCount, c.via == Via::File ? 60 - c.start : -1) << label;
        const int count = c.frames < 0 ? 60 - static_cast<int>(c.start) : static_cast<int>(c.frames);
        ASSERT_EQ(got.planes.size(), static_cast<size_t>(count)) << label;
        for (int k = 0; k < count; ++k) {
            std::string expected = sampleLuma()[c.start + k];
            // Ones below the 8 bits round up: v + 1, saturated at 255.
            if (c.lowOnes)
                for (char& v : expected) v = static_cast<char>(std::min(static_cast<unsigned char>(v) + 1, 255));
            EXPECT_TRUE(got.planes[k] == expected) << label << " frame " << k;
            EXPECT_DOUBLE_EQ(got.pts[k], static_cast<double>(c.start + k) * 1001.0 / 30000.0) << label;
        }
        EXPECT_EQ(got.last.status, ReadStatus::End) << label;
        EXPECT_TRUE(got.warnings.empty()) << label;
    }
}

TEST(Y4mReader, TruncatedAndDamagedStreams) {
    const std::string whole = readFile(writeY4m("whole.y4m", "420", 8, k420, false, "FRAME Ixyz"));
    const size_t frameBytes = 11 + kFrameBytes;
    const size_t header = whole.find('\n') + 1;
    std::string damaged = whole;
    damaged.replace(header + 5 * frameBytes, 5, "FRAMX");
    writeFile(file("cut.y4m"), whole.substr(0, header + 10 * frameBytes + 11 + kLuma / 2));
    writeFile(file("damaged.y4m"), damaged);
    struct Case {
        std::string name;
        Via via;
        int64_t frames;
        int count;
        ReadStatus last;
        size_t lastBytes;
        bool warned;
    };
    const Case cases[] = {
        {"cut.y4m", Via::File, -1, 10, ReadStatus::End, 0, false},
        {"cut.y4m", Via::Stdin, -1, 10, ReadStatus::End, 0, true},
        {"cut.y4m", Via::File, 20, 10, ReadStatus::ShortFrame, kLuma / 2, false},
        {"cut.y4m", Via::Fifo, 20, 10, ReadStatus::ShortFrame, kLuma / 2, false},
        {"damaged.y4m", Via::File, -1, 5, ReadStatus::Error, 0, false},
        {"damaged.y4m", Via::Fifo, -1, 5, ReadStatus::Error, 0, false},
    };
    for (const Case& c : cases) {
        const std::string label = c.name + " via " + std::to_string(static_cast<int>(c.via));
        InputRequest request;
        request.frames = c.frames;
        Collected got = through(c.via, file(c.name), request);
        ASSERT_EQ(got.openError, "") << label;
        ASSERT_EQ(got.planes.size(), static_cast<size_t>(c.count)) << label;
        for (int k = 0; k < c.count; ++k) EXPECT_TRUE(got.planes[k] == sampleLuma()[k]) << label;
        EXPECT_EQ(got.last.status, c.last) << label;
        EXPECT_EQ(got.last.index, c.count) << label;
        EXPECT_EQ(got.last.bytesRead, c.lastBytes) << label;
        EXPECT_EQ(got.warnings.empty(), !c.warned) << label;
        EXPECT_EQ(got.last.message.find('\n'), std::string::npos) << label;
        if (c.last == ReadStatus::Error) {
            EXPECT_NE(got.last.message.find("Frame 5"), std::string::npos) << label;
        }
    }
}

TEST(Readers, BadInputsGiveOneLineErrors) {
    const std::string y4m = writeY4m("good.y4m", "420mpeg2", 8, k420);
    struct Case {
        std::string content;  // written to a file; empty: use path as it is
        std::string path, format;
        int32_t width, height;
        int64_t start;
        std::string expected;
    };
    const Case cases[] = {
        {"YUV4MPEG2 W352 H288 Cfoo\n", "", "", 0, 0, 0, "unsupported Y4M colour space 'Cfoo'"},
        {"YUV4MPEG2 W352 H288 C420p7\n", "", "", 0, 0, 0, "unsupported Y4M colour space 'C420p7'"},
        {"YUV4MPEG2 W352 C420\n", "", "", 0, 0, 0, "lacks the picture size"},
        {"YUV4MPEG2 Wabc H2\n", "", "", 0, 0, 0, "unsupported Y4M header parameter 'Wabc'"},
        {"YUV4MPEG2 W352 H288 F25:x\n", "", "", 0, 0, 0, "unsupported Y4M header parameter 'F25:x'"},
        {"YUV4MPEG2 W352 H288", "", "", 0, 0, 0, "header line is truncated"},
        {"YUV4MPEG2 W100000 H100000\n", "", "", 0, 0, 0, "too large"},
        // w * h * 3 beyond 64 bits too (found by tests/fuzz/argumentsFuzzer)
        {"YUV4MPEG2 W2147483647 H2147483647\n", "", "", 0, 0, 0, "too large"},
        {"", y4m, "", 320, 240, 0, "the Y4M header gives 352 x 288, not the 320 x 240 given"},
        {"", y4m, "y4m", 0, 0, -2, "Invalid startFrame -2: it must not be negative"},
        {"", file("sample.yuv"), "y4m", 0, 0, 0, "is not a Y4M stream"},
        {"", file("sample.yuv"), "mpeg", 352, 288, 0, "Unknown input format 'mpeg'"},
        {"", "/nonexistent/clip.yuv", "", 352, 288, 0,
         "Error opening the file /nonexistent/clip.yuv: No such file or directory "},
        {"", file("sample.yuv"), "raw", 0, 0, 0, "Invalid WIDTH 0: it must be a positive integer"},
        {"", file("sample.yuv"), "", 352, -3, 0, "Invalid HEIGHT -3: it must be a positive integer"},
        {"", file("sample.yuv"), "", 100000, 100000, 0, "WIDTH x HEIGHT 100000 x 100000 is too large"},
        {"", file("sample.yuv"), "", 2147483647, 2147483647, 0,
         "WIDTH x HEIGHT 2147483647 x 2147483647 is too large"},
        {"", file("sample.yuv"), "", 352, 288, -1, "Invalid startFrame -1: it must not be negative"},
    };
    for (const Case& c : cases) {
        InputRequest request;
        request.path = c.path;
        if (!c.content.empty()) {
            request.path = file("bad.y4m");
            writeFile(request.path, c.content);
        }
        request.format = c.format;
        request.width = c.width;
        request.height = c.height;
        request.start = c.start;
        std::string error;
        EXPECT_EQ(lumaqc::io::openReader(request, &error), nullptr) << c.expected;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}
