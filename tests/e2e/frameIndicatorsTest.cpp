// Temporal activity, freezing and flickering as the driver calls them: from
// the second analysed frame on, once per frame, in frame order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "e2e/runner.hpp"

namespace {
// Column indexes of a log row.
enum { kFrame = 0, kTA = 7, kBlackout = 8, kFreezing = 9, kFlickering = 15 };

std::string fixed5(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.5f", v);
    return text;
}

std::vector<std::vector<std::string>> logRows(const RunResult& r) {
    std::vector<std::vector<std::string>> rows;
    const auto lines = linesOf(r.log);
    for (size_t i = 1; i < lines.size(); ++i) rows.push_back(fieldsOf(lines[i]));
    return rows;
}

// Every pixel moves on by 13 grey levels (modulo 256) from one frame to the next.
std::vector<uint8_t> rampLuma(int w, int h, int t) {
    std::vector<uint8_t> y(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>((i * 7 + static_cast<size_t>(t) * 13) & 0xff);
    return y;
}

// A picture that is far from flat: its 8 x 8 block means differ by 16 from
// one block column to the next. Frame k is brighter than frame 0 by 3k (no
// value passes 255 for the sizes and frames used here).
std::vector<uint8_t> slopeLuma(int w, int h, int k) {
    std::vector<uint8_t> y(static_cast<size_t>(w) * h);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            y[static_cast<size_t>(r) * w + c] = static_cast<uint8_t>(10 + c * 2 + r / 2 + k * 3);
    return y;
}

// Frames 0-3 move, frames 4-11 repeat frame 3, frames 12-15 move again.
int frozenStretchContent(int t) { return t < 4 ? t : (t < 12 ? 3 : t); }
}  // namespace

TEST(FrameIndicators, FlickeringReportsInTheNinthAnalysedRow) {
    WorkDir dir;
    dir.write("clip.yuv", makeClip(80, 64, 14, [](int t) { return rampLuma(80, 64, t); }));

    RunResult r = runIn(dir, "clip.yuv 80 64 25 12");
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = logRows(r);
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows[0][kFlickering], "0.00000");
    EXPECT_EQ(rows[0][kTA], "0.00000");
    for (int t = 1; t < 12; ++t) {
        // Every block changes on every call: one switch per block and period.
        EXPECT_EQ(rows[t][kFlickering], t == 8 ? "0.12500" : "-1.00000") << "frame " << t;
        const auto cur = rampLuma(80, 64, t), prev = rampLuma(80, 64, t - 1);
        double squares = 0.0;
        for (size_t i = 0; i < cur.size(); ++i) {
            const double d = static_cast<double>(cur[i]) - static_cast<double>(prev[i]);
            squares += d * d;
        }
        EXPECT_EQ(rows[t][kTA], fixed5(std::sqrt(squares) / std::sqrt(80.0 * 64.0))) << "frame " << t;
    }

    // Starting at frame 3, the ninth analysed frame is frame 11.
    r = runIn(dir, "clip.yuv 80 64 25 10 3");
    ASSERT_EQ(r.status, 0) << r.err;
    rows = logRows(r);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[0][kFrame], "00003");
    EXPECT_EQ(rows[0][kFlickering], "0.00000");
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(rows[i][kFlickering], rows[i][kFrame] == "00011" ? "0.12500" : "-1.00000") << rows[i][kFrame];
}

TEST(FrameIndicators, BlocksAlternatingBetweenChangeAndStandstillFlickerFully) {
    // Frames A, B, B, A, A, B, B, A, A: every comparison alternates between a
    // change everywhere and no change, so every block switches 8 times.
    WorkDir dir;
    dir.write("clip.yuv", makeClip(80, 64, 9, [](int t) { return slopeLuma(80, 64, ((t + 1) / 2) % 2 * 10); }));
    RunResult r = runIn(dir, "clip.yuv 80 64");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = logRows(r);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[8][kFlickering], "1.00000");
    EXPECT_EQ(rows[7][kFlickering], "-1.00000");
    for (int t = 1; t < 9; ++t) EXPECT_EQ(rows[t][kTA], t % 2 == 1 ? "30.00000" : "0.00000") << "frame " << t;
}

TEST(FrameIndicators, FreezingFlagsTheFrozenStretchByFrameRate) {
    WorkDir dir;
    dir.write("clip.yuv", makeClip(32, 32, 16, [](int t) { return slopeLuma(32, 32, frozenStretchContent(t)); }));

    // Frames 4-11 are the 1st to 8th frozen frame in a row.
    struct Case {
        const char* fps;
        int firstFlagged;  // last flagged frame is 11 in every case
    };
    for (Case c : {Case{"25", 6}, Case{"10", 4}, Case{"50", 8}, Case{"29.97", 6}}) {
        RunResult r = runIn(dir, std::string("clip.yuv 32 32 ") + c.fps);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto rows = logRows(r);
        ASSERT_EQ(rows.size(), 16u);
        for (int t = 0; t < 16; ++t) {
            const bool flagged = t >= c.firstFlagged && t <= 11;
            EXPECT_EQ(rows[t][kFreezing], flagged ? "1" : "0") << "fps " << c.fps << ", frame " << t;
            EXPECT_EQ(rows[t][kBlackout], "0") << "frame " << t;  // the clip is never flat
            const char* ta = t == 0 || (t >= 4 && t <= 11) ? "0.00000" : t == 12 ? "27.00000" : "3.00000";
            EXPECT_EQ(rows[t][kTA], ta) << "frame " << t;
        }
    }

    // A rate of 0 flags every frame that is compared with another.
    RunResult r = runIn(dir, "clip.yuv 32 32 0");
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = logRows(r);
    ASSERT_EQ(rows.size(), 16u);
    for (int t = 0; t < 16; ++t) EXPECT_EQ(rows[t][kFreezing], t == 0 ? "0" : "1") << "frame " << t;

    // Starting inside the stretch, the count begins with the first comparison:
    // frames 6, 7, 8 are the 1st, 2nd, 3rd frozen frame seen.
    r = runIn(dir, "clip.yuv 32 32 25 8 5");
    ASSERT_EQ(r.status, 0) << r.err;
    rows = logRows(r);
    ASSERT_EQ(rows.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        const int t = 5 + i;
        EXPECT_EQ(rows[i][kFreezing], t >= 8 && t <= 11 ? "1" : "0") << "frame " << t;
    }
}
