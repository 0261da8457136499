#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

TEST(Interlace, AlternatingRowsAreCombed) {
    TestPicture p(64, 48);
    p.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y % 2 ? 255 : 0); });
    EXPECT_EQ(interlace(p.get()), 1.0);

    // Neighbouring columns in opposite phases, and the down-up-down pattern.
    TestPicture q(8, 8);
    q.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>((x + y) % 2 ? 255 : 0); });
    EXPECT_EQ(interlace(q.get()), 1.0);

    // Any zigzag will do, not only full swings.
    TestPicture r(4, 4);
    const uint8_t rows[4] = {10, 9, 200, 199};
    r.fill([&](uint64_t x, uint64_t y) { return static_cast<uint8_t>(rows[y] + x); });
    EXPECT_EQ(interlace(r.get()), 1.0);
}

TEST(Interlace, FlatOrMonotoneColumnsAndEqualNeighboursAreNotCombed) {
    TestPicture flat(32, 32, 50);
    EXPECT_EQ(interlace(flat.get()), 0.0);
    TestPicture ramp(32, 32);
    ramp.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x * 3 + y * 5); });
    EXPECT_EQ(interlace(ramp.get()), 0.0);

    // One column with p1 == p2 spoils its block; the other block stays combed.
    TestPicture p(8, 4);
    p.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y % 2 ? 200 : 100); });
    EXPECT_EQ(interlace(p.get()), 1.0);
    p.at(2, 2) = 200;  // column 2: 100, 200, 200, 200
    EXPECT_EQ(interlace(p.get()), 0.5);
    p.at(2, 3) = 255;  // 100, 200, 200, 255: up, level, up
    EXPECT_EQ(interlace(p.get()), 0.5);
    p.at(2, 0) = 250, p.at(2, 1) = 100, p.at(2, 2) = 100, p.at(2, 3) = 50;  // down, level, down
    EXPECT_EQ(interlace(p.get()), 0.5);
    p.at(2, 2) = 150;  // down, up, down
    EXPECT_EQ(interlace(p.get()), 1.0);
    p.at(2, 0) = 100, p.at(2, 1) = 200, p.at(2, 2) = 100, p.at(2, 3) = 200;
    p.at(7, 3) = 100;  // last column: 100, 200, 100, 100
    EXPECT_EQ(interlace(p.get()), 0.5);
}

TEST(Interlace, HdShareOfCombedBlocks) {
    TestPicture p(1920, 1080, 128);
    // 1296 combed blocks: the first 48 blocks of each of the first 27 block rows.
    for (uint64_t by = 0; by < 27; ++by)
        for (uint64_t y = by * 4; y < by * 4 + 4; ++y)
            for (uint64_t x = 0; x < 48 * 4; ++x) p.at(x, y) = y % 2 ? 20 : 220;
    EXPECT_EQ(interlace(p.get()), 0.01);
    EXPECT_EQ(interlace(p.get()), 1296.0 / 129600.0);
}

TEST(Interlace, PartialBlocksAreLeftOut) {
    // 10 x 7 holds two whole blocks; the combing of the edge pixels is not looked at.
    TestPicture p(10, 7);
    p.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y % 2 ? 255 : 0); });
    EXPECT_EQ(interlace(p.get()), 1.0);
    p.at(1, 1) = 0;  // first block broken
    EXPECT_EQ(interlace(p.get()), 0.5);

    // Pictures whose sizes are no multiple of 4: the result is the share of
    // whole blocks; the sanitizer build checks that nothing outside is read.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{5, 5}, {13, 9}, {4, 7}, {7, 4}, {1023, 4}}) {
        TestPicture q(w, h);
        q.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>((x + y) % 2 ? 90 : 10); });
        EXPECT_EQ(interlace(q.get()), 1.0) << w << "x" << h;
    }

    // Fewer than 4 rows or columns: no whole block, 0 / 0.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{3, 100}, {100, 3}, {0, 0}}) {
        TestPicture q(w, h, 0);
        const double v = interlace(q.get());
        EXPECT_TRUE(std::isnan(v)) << w << "x" << h;
        char text[16];
        std::snprintf(text, sizeof text, "%f", v);
        EXPECT_STREQ(text, "-nan");
    }
}
