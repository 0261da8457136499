#include <gtest/gtest.h>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"
#include "support/refusals.hpp"

using namespace lumaqc;

TEST(Blackout, FlatPicturesAreBlackouts) {
    for (uint8_t v : {0, 16, 128, 255}) {
        TestPicture p(64, 48, v);
        EXPECT_EQ(blackout(p.get()), 1) << int(v);
    }
    // One whole block, whatever it holds: its spread is 0.
    for (uint64_t side : {8, 12, 15}) {
        TestPicture p(side, side);
        p.randomise(static_cast<uint32_t>(side));
        EXPECT_EQ(blackout(p.get()), 1) << side;
    }
}

TEST(Blackout, BlockSumSpreadOf255IsFlatAnd256IsNot) {
    TestPicture p(32, 24, 0);
    p.at(9, 17) = 255;  // one block sums to 255 more than the others
    EXPECT_EQ(blackout(p.get()), 1);
    p.at(10, 17) = 1;  // 256: block means differ by exactly 4
    EXPECT_EQ(blackout(p.get()), 0);

    // The spread is what counts, not the level: 64 levels brighter, one block
    // four grey levels brighter still.
    TestPicture q(32, 24, 64);
    for (uint64_t y = 8; y < 16; ++y)
        for (uint64_t x = 24; x < 32; ++x) q.at(x, y) = 68;
    EXPECT_EQ(blackout(q.get()), 0);
    q.at(24, 8) = 67;  // 255
    EXPECT_EQ(blackout(q.get()), 1);

    // The darkest block comes after the brightest in scanning order.
    TestPicture r(24, 16, 100);
    r.at(0, 0) = 255;                         // first block, +155
    r.at(23, 15) = 0, r.at(22, 15) = 0;       // last block, -200
    EXPECT_EQ(blackout(r.get()), 0);
}

TEST(Blackout, PixelsOutsideTheBlockGridAreIgnored) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{39, 24}, {33, 31}, {16, 23}}) {
        TestPicture p(w, h, 20);
        for (uint64_t y = 0; y < h; ++y)
            for (uint64_t x = 0; x < w; ++x)
                if (x >= w / 8 * 8 || y >= h / 8 * 8) p.at(x, y) = 255;
        EXPECT_EQ(blackout(p.get()), 1) << w << "x" << h;
    }
}

TEST(Blackout, PicturesWithoutAWholeBlockAreNotBlackouts) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{7, 100}, {100, 7}, {0, 0}, {1, 1}}) {
        TestPicture p(w, h, 0);
        EXPECT_EQ(blackout(p.get()), 0) << w << "x" << h;
    }
}

TEST(Minmax, SmallestAndLargestInOnePass) {
    const int32_t values[] = {5, -3, 9, 9, -3};
    int32_t lo = 0, hi = 0;
    EXPECT_TRUE(minmax(values, 5, &lo, &hi).ok());
    EXPECT_EQ(lo, -3);
    EXPECT_EQ(hi, 9);

    const int32_t one[] = {-42};
    EXPECT_TRUE(minmax(one, 1, &lo, &hi).ok());
    EXPECT_EQ(lo, -42);
    EXPECT_EQ(hi, -42);

    const int32_t falling[] = {3, 2, 1, INT32_MIN, INT32_MAX};
    EXPECT_TRUE(minmax(falling, 5, &lo, &hi).ok());
    EXPECT_EQ(lo, INT32_MIN);
    EXPECT_EQ(hi, INT32_MAX);
    EXPECT_TRUE(minmax(falling, 3, &lo, &hi).ok());  // only the first three count
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 3);
}

TEST(Minmax, EmptyInputIsRefusedWithNothingWritten) {
    const int32_t values[] = {1};
    int32_t lo = 7, hi = 7;
    expectRefused(minmax(values, 0, &lo, &hi), "minmax", "size > 0");
    EXPECT_EQ(lo, 7);
    EXPECT_EQ(hi, 7);
}
