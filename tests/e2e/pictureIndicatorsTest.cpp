#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "e2e/runner.hpp"

namespace {
// Column indexes of a log row.
enum {
    kFrame = 0,
    kBlockiness = 1,
    kSA = 2,
    kLetterbox = 3,
    kPillarbox = 4,
    kBlackout = 8,
    kExposure = 10,
    kInterlace = 12
};

constexpr int W = 64, H = 48;

std::vector<uint8_t> picture(const std::function<uint8_t(int, int)>& f) {
    std::vector<uint8_t> y(static_cast<size_t>(W) * H);
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c) y[static_cast<size_t>(r) * W + c] = f(c, r);
    return y;
}

std::string fixed5(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%-5.5f", v);
    return text;
}

// The synthetic frames, each made for a few columns whose values are known.
std::vector<uint8_t> frame(int t) {
    switch (t) {
        case 0:  // uniform
            return picture([](int, int) { return uint8_t{100}; });
        case 1:  // fields of 0 and 255 woven together
            return picture([](int, int y) { return static_cast<uint8_t>(y % 2 ? 255 : 0); });
        case 2:  // 6-row bars at top and bottom, 10 flat columns at the left
            return picture([](int x, int y) {
                if (y < 6 || y >= 42 || x < 10) return uint8_t{16};
                return static_cast<uint8_t>((x * 7 + y * 3) % 200 + 20);
            });
        case 3:  // flat 8 x 8 blocks of levels 15 bx + 20 by
            return picture([](int x, int y) { return static_cast<uint8_t>(15 * (x / 8) + 20 * (y / 8)); });
        case 4:  // black but for one white corner pixel
            return picture([](int x, int y) { return static_cast<uint8_t>(x == 0 && y == 0 ? 255 : 0); });
        case 5:  // the same with one more grey level in the first block
            return picture([](int x, int y) { return static_cast<uint8_t>(y == 0 && x < 2 ? (x ? 1 : 255) : 0); });
        default:  // alike columns; grid line 8: steps of 10 inside, 20 across; later lines: 10 inside only
            return picture([](int, int y) {
                if (y % 8 == 7) return uint8_t{10};
                if (y == 8) return uint8_t{30};
                if (y % 8 == 0 && y > 8) return uint8_t{10};
                return uint8_t{0};
            });
    }
}
}  // namespace

TEST(PictureIndicators, LogColumnsOfSyntheticFrames) {
    WorkDir dir;
    dir.write("clip.yuv", makeClip(W, H, 7, frame));
    RunResult r = runIn(dir, "clip.yuv 64 48");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto log = linesOf(r.log);
    ASSERT_EQ(log.size(), 8u);
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 1; i < log.size(); ++i) rows.push_back(fieldsOf(log[i]));

    // Uniform picture: neutral blockiness, no detail, bars all the way, blackout.
    EXPECT_EQ(rows[0][kFrame], "00000");
    EXPECT_EQ(rows[0][kBlockiness], "1.00000");
    EXPECT_EQ(rows[0][kSA], "0.00000");
    EXPECT_EQ(rows[0][kLetterbox], "1.00000");
    EXPECT_EQ(rows[0][kPillarbox], "1.00000");
    EXPECT_EQ(rows[0][kBlackout], "1");
    EXPECT_EQ(rows[0][kExposure], "100");
    EXPECT_EQ(rows[0][kInterlace], "0.00000");

    // Woven fields: every block combed; equal steps on and off the grid.
    EXPECT_EQ(rows[1][kBlockiness], "1.00000");
    EXPECT_EQ(rows[1][kSA], "0.00000");
    EXPECT_EQ(rows[1][kBlackout], "1");
    EXPECT_EQ(rows[1][kExposure], "127");  // 127.5, printed as an integer
    EXPECT_EQ(rows[1][kInterlace], "1.00000");

    // Bars: 6 of 24 row pairs, 9 of 32 columns.
    EXPECT_EQ(rows[2][kLetterbox], "0.25000");
    EXPECT_EQ(rows[2][kPillarbox], "0.28125");
    EXPECT_EQ(rows[2][kBlackout], "0");

    // Flat blocks: all steps on the grid; exposure from the darkest blocks
    // 0, 15, 20, 30 and the brightest visited 170, 155, 150, 140.
    EXPECT_EQ(rows[3][kBlockiness], "0.00000");
    EXPECT_EQ(rows[3][kLetterbox], "0.00000");
    EXPECT_EQ(rows[3][kPillarbox], "0.21875");
    EXPECT_EQ(rows[3][kBlackout], "0");
    EXPECT_EQ(rows[3][kExposure], "85");
    EXPECT_EQ(rows[3][kInterlace], "0.00000");

    // Corner pixel: Gx = Gy = -255 at (1, 1) only; block spread 255.
    EXPECT_EQ(rows[4][kSA], fixed5(std::sqrt(2.0 * 255 * 255) / std::sqrt(64.0 * 48)));
    EXPECT_EQ(rows[4][kBlackout], "1");
    EXPECT_EQ(rows[4][kPillarbox], "0.00000");
    EXPECT_EQ(rows[5][kBlackout], "0");  // spread 256

    // Five horizontal lines, the first weighing 5 times: (15 * 10) / (5 * 20).
    EXPECT_EQ(rows[6][kBlockiness], "1.50000");
    EXPECT_EQ(rows[6][kPillarbox], "1.00000");
}
