#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

TEST(Blockiness, PicturesWithoutStepsOrGridLinesAreNeutral) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{64, 48}, {16, 16}, {9, 200}}) {
        TestPicture p(w, h, 131);
        EXPECT_EQ(blockiness(p.get()), 1.0) << w << "x" << h;
    }
    // Below 16 x 16 in both directions there is no grid line, whatever the content.
    TestPicture small(15, 15);
    small.randomise(7);
    EXPECT_EQ(blockiness(small.get()), 1.0);
    TestPicture empty(0, 0);
    EXPECT_EQ(blockiness(empty.get()), 1.0);
}

TEST(Blockiness, FlatBlocksGiveZeroAndStepsBesideTheGridGiveInfinity) {
    // Flat 8 x 8 blocks whose neighbours all differ: every step is on a grid line.
    TestPicture blocks(40, 32);
    blocks.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(20 * (x / 8) + 50 * (y / 8)); });
    EXPECT_EQ(bitsOf(blockiness(blocks.get())), bitsOf(0.0));

    // Alike columns, rows changing only from row 8m + 6 to 8m + 7: steps inside
    // the blocks, none across the lines.
    TestPicture rows(24, 40);
    rows.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(30 * ((y + 1) / 8)); });
    const double v = blockiness(rows.get());
    EXPECT_TRUE(std::isinf(v));
    EXPECT_GT(v, 0.0);
}

TEST(Blockiness, EarlierLinesWeighMoreInBothDirections) {
    // 8 columns: no vertical line. Lines at 8 and 16; rows 22..24 would belong
    // to a line at 24, which needs 32 rows and so does not exist with 31.
    TestPicture p(8, 31, 0);
    auto setRow = [&](uint64_t y, uint8_t v) {
        for (uint64_t x = 0; x < 8; ++x) p.at(x, y) = v;
    };
    setRow(6, 0), setRow(7, 10), setRow(8, 15);    // S1 = 8 * 10, E1 = 8 * 5
    setRow(14, 0), setRow(15, 30), setRow(16, 50); // S2 = 8 * 30, E2 = 8 * 20
    const double S1 = 80, E1 = 40, S2 = 240, E2 = 160;
    const double expected = (2 * S1 + S2) / (2 * E1 + E2);
    EXPECT_EQ(bitsOf(blockiness(p.get())), bitsOf(expected));
    setRow(22, 200), setRow(23, 7), setRow(24, 99);
    EXPECT_EQ(bitsOf(blockiness(p.get())), bitsOf(expected));

    // The same picture turned on its side: vertical lines weigh alike.
    TestPicture t(31, 8, 0);
    for (uint64_t y = 0; y < 8; ++y)
        for (uint64_t x = 0; x < 31; ++x) t.at(x, y) = p.at(y, x);
    EXPECT_EQ(bitsOf(blockiness(t.get())), bitsOf(expected));

    // Three lines: 3 S1 + 2 S2 + S3.
    TestPicture q(8, 32, 0);
    for (uint64_t x = 0; x < 8; ++x) {
        q.at(x, 7) = 1, q.at(x, 8) = 4;     // S1 = 8, E1 = 24
        q.at(x, 15) = 2, q.at(x, 16) = 3;   // S2 = 16, E2 = 8
        q.at(x, 23) = 5, q.at(x, 24) = 5;   // S3 = 40, E3 = 0
    }
    EXPECT_EQ(bitsOf(blockiness(q.get())), bitsOf((3.0 * 8 + 2 * 16 + 40) / (3.0 * 24 + 2 * 8 + 0)));
}

TEST(Blockiness, SixteenSquareReadsOnlyTheThreeLinesAroundEight) {
    TestPicture p(16, 16);
    p.randomise(42);
    auto P = [&](uint64_t x, uint64_t y) { return static_cast<int>(p.at(x, y)); };
    long inside = 0, across = 0;
    for (uint64_t i = 0; i < 16; ++i) {
        inside += std::abs(P(i, 7) - P(i, 6)) + std::abs(P(7, i) - P(6, i));
        across += std::abs(P(i, 7) - P(i, 8)) + std::abs(P(7, i) - P(8, i));
    }
    const double expected = static_cast<double>(inside) / static_cast<double>(across);
    EXPECT_EQ(bitsOf(blockiness(p.get())), bitsOf(expected));

    // Pixels off rows 6..8 and off columns 6..8 change nothing.
    for (uint64_t y = 0; y < 16; ++y)
        for (uint64_t x = 0; x < 16; ++x)
            if ((y < 6 || y > 8) && (x < 6 || x > 8)) p.at(x, y) = static_cast<uint8_t>(x * y + 3);
    EXPECT_EQ(bitsOf(blockiness(p.get())), bitsOf(expected));
}

TEST(Blockiness, RunningSumsBeyond32BitsStayExact) {
    // 8192 x 8240: the running inside sum reaches 255 * 8192 * 1029 > 2^31.
    // Every line has inside steps of 255 and across steps of 1, so the
    // weighted totals keep the ratio 255 exactly.
    const uint64_t w = 8192, h = 8240;
    TestPicture p(w, h, 255);
    for (uint64_t y = 0; y < h; ++y) {
        const uint8_t v = y % 8 == 6 ? 0 : (y % 8 == 0 ? 254 : 255);
        if (v != 255) std::memset(&p.at(0, y), v, w);
    }
    EXPECT_EQ(blockiness(p.get()), 255.0);
}

TEST(BlockToMOS, LinearMapClippedAtZero) {
    EXPECT_EQ(bitsOf(blockToMOS(1.0)), bitsOf((1.0 * 17.86 - 10.38) * 0.5));
    EXPECT_NEAR(blockToMOS(1.0), 3.74, 1e-12);
    EXPECT_EQ(blockToMOS(0.0), 0.0);
    EXPECT_EQ(blockToMOS(10.38 / 17.86 - 0.01), 0.0);
    EXPECT_EQ(blockToMOS(0.0 * std::sqrt(-1.0)), 0.0);  // not-a-number maps to 0
    EXPECT_NEAR(blockToMOS(2.0), (35.72 - 10.38) / 2, 1e-12);
}
