// The driver's frame loop against the library called frame by frame on the
// luma planes read straight from the raw file: the same rows for raw and Y4M
// inputs, any thread count, a piece with its warm-up, and every way the loop
// ends (the span's end, the input's end, a short frame, a stop, a failed output).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "driver/fileRun.hpp"
#include "io/clips.hpp"

namespace {

using lumaqc::FrameRow;
using lumaqc::driver::Ending;
using lumaqc::driver::FileRun;
using lumaqc::driver::Span;

// The rows of the sample clip's frames from `first` on at this rate, one
// lumaqc_analyse per frame on one thread.
std::vector<FrameRow> referenceRows(double fps, int64_t first) {
    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.fps = fps;
    lumaqc_context* context = nullptr;
    EXPECT_EQ(lumaqc_open(&context, clips::kW, clips::kH, &settings), LUMAQC_OK);
    std::vector<FrameRow> rows;
    for (int64_t i = first; i < clips::kFrames; ++i) {
        FrameRow row;
        const std::string& plane = clips::sampleLuma()[static_cast<size_t>(i)];
        lumaqc_analyse(context, reinterpret_cast<const uint8_t*>(plane.data()), clips::kW, &row.values);
        row.frame = i;
        rows.push_back(row);
    }
    lumaqc_close(&context);
    return rows;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every value bit for bit, the absolute frame number, the has_previous flag
// (a piece's first row compares with its warm-up's last frame).
bool sameRow(const FrameRow& a, const FrameRow& b) {
    const lumaqc_result &x = a.values, &y = b.values;
    return a.frame == b.frame && x.has_previous == y.has_previous && x.blackout == y.blackout &&
           x.freezing == y.freezing && sameBits(x.blockiness, y.blockiness) &&
           sameBits(x.spatial_activity, y.spatial_activity) && sameBits(x.letterbox, y.letterbox) &&
           sameBits(x.pillarbox, y.pillarbox) && sameBits(x.block_loss, y.block_loss) && sameBits(x.blur, y.blur) &&
           sameBits(x.temporal_activity, y.temporal_activity) && sameBits(x.exposure, y.exposure) &&
           sameBits(x.contrast, y.contrast) && sameBits(x.interlace, y.interlace) && sameBits(x.noise, y.noise) &&
           sameBits(x.slice, y.slice) && sameBits(x.flickering, y.flickering);
}

// Keeps the rows; stops before reading frame stopAt (counted from the span's
// first), fails once failAfter rows came.
class Rows final : public lumaqc::driver::Sink {
public:
    std::vector<FrameRow> rows;
    std::vector<std::string> warned;
    int64_t stopAt = -1;
    size_t failAfter = SIZE_MAX;
    void row(const FrameRow& row) override { rows.push_back(row); }
    void warnings(std::vector<std::string>& texts) override {
        warned.insert(warned.end(), texts.begin(), texts.end());
    }
    bool failed() override { return rows.size() >= failAfter; }
    bool stopRequested(int64_t read) override { return read == stopAt; }
};

struct Case {
    const char* what;
    const char* input;  // "raw", "y4m", "short" (2.5 frames of raw)
    int threads;
    Span span;
    int64_t requested;  // frames asked of the reader from span.warmUpFrom (-1: all)
    bool readFirst;
    int64_t stopAt;
    size_t failAfter;
    Ending ending;
    int64_t runFrom;             // the expected rows are those of a run from this frame,
    int64_t firstRow, rowCount;  // these of them
    int64_t endFrame;            // Outcome::frame
};

const Case kCases[] = {
    {"raw, one thread", "raw", 1, {0, 0, 60}, -1, false, -1, SIZE_MAX, Ending::SpanDone, 0, 0, 60, 60},
    {"raw, three threads", "raw", 3, {0, 0, 60}, -1, false, -1, SIZE_MAX, Ending::SpanDone, 0, 0, 60, 60},
    {"raw to its end", "raw", 2, {0, 0, INT64_MAX}, -1, true, -1, SIZE_MAX, Ending::InputEnded, 0, 0, 60, 60},
    {"y4m, four threads", "y4m", 4, {0, 0, 60}, -1, true, -1, SIZE_MAX, Ending::SpanDone, 0, 0, 60, 60},
    {"a count of frames from 5", "raw", 2, {5, 5, 25}, 20, false, -1, SIZE_MAX, Ending::SpanDone, 5, 0, 20, 25},
    {"a piece with its warm-up", "raw", 1, {13, 17, 41}, 28, true, -1, SIZE_MAX, Ending::SpanDone, 0, 17, 24, 41},
    {"the piece on threads", "raw", 3, {13, 17, 41}, 28, false, -1, SIZE_MAX, Ending::SpanDone, 0, 17, 24, 41},
    {"stopped before frame 7", "raw", 3, {0, 0, 60}, -1, false, 7, SIZE_MAX, Ending::Stopped, 0, 0, 7, 7},
    {"stopped before the first", "raw", 1, {0, 0, 60}, -1, true, 0, SIZE_MAX, Ending::Stopped, 0, 0, 0, 0},
    {"an output failing after 4 rows", "raw", 3, {0, 0, 60}, -1, false, -1, 4, Ending::OutputFailed, 0, 0, 4, -1},
    {"a short frame", "short", 2, {0, 0, 5}, 5, false, -1, SIZE_MAX, Ending::ShortFrame, 0, 0, 2, 2},
};

TEST(FileRun, RowsEqualTheLibraryFrameByFrameHoweverTheLoopEnds) {
    const std::vector<FrameRow> raw = referenceRows(25.0, 0), rawFrom5 = referenceRows(25.0, 5);
    const std::vector<FrameRow> y4m = referenceRows(30000.0 / 1001.0, 0);
    const std::string y4mPath = clips::writeY4m("driver.y4m", "420jpeg", 8, clips::k420);
    const std::string shortPath = clips::file("short.yuv");
    clips::writeFile(shortPath, clips::readFile(clips::file("sample.yuv")).substr(0, clips::kFrameBytes * 5 / 2));
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::string input = c.input;
        lumaqc::io::InputRequest request;
        request.path = input == "y4m" ? y4mPath : input == "short" ? shortPath : clips::file("sample.yuv");
        if (input != "y4m") {
            request.width = clips::kW;
            request.height = clips::kH;
            request.sizeGiven = true;
        }
        request.start = c.span.warmUpFrom;
        request.frames = c.requested;
        FileRun run;
        ASSERT_EQ(run.openInput(request), "");
        lumaqc_settings settings;
        lumaqc_default_settings(&settings);
        settings.threads = c.threads;
        ASSERT_EQ(run.openContext(settings), LUMAQC_OK);
        if (c.readFirst) {
            ASSERT_EQ(run.readFirst().status, lumaqc::io::ReadStatus::Frame);
        }
        Rows sink;
        sink.stopAt = c.stopAt;
        sink.failAfter = c.failAfter;
        const lumaqc::driver::Outcome outcome = run.run(c.span, sink);
        EXPECT_EQ(outcome.ending, c.ending);
        if (c.endFrame >= 0) {
            EXPECT_EQ(outcome.frame, c.endFrame);
        }
        EXPECT_EQ(outcome.rows, c.rowCount);
        ASSERT_EQ(sink.rows.size(), static_cast<size_t>(c.rowCount));
        const std::vector<FrameRow>& expected = input == "y4m" ? y4m : c.runFrom == 5 ? rawFrom5 : raw;
        for (int64_t k = 0; k < c.rowCount; ++k) {
            const FrameRow& row = sink.rows[static_cast<size_t>(k)];
            EXPECT_TRUE(sameRow(row, expected[static_cast<size_t>(c.firstRow + k)])) << "row " << k;
            EXPECT_TRUE(std::isnan(row.ptsTime)) << "row " << k;  // raw and Y4M rows take frame / fps
        }
        if (c.ending == Ending::ShortFrame) {
            EXPECT_EQ(outcome.read.bytesRead, clips::kFrameBytes / 2);
        }
        EXPECT_EQ(sink.warned, std::vector<std::string>());
    }
}

}  // namespace
