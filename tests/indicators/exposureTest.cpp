#include <gtest/gtest.h>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

namespace {
// Fills the 8 x 8 block whose top-left pixel is (x0, y0).
void fillBlock(TestPicture& p, uint64_t x0, uint64_t y0, uint8_t v) {
    for (uint64_t y = y0; y < y0 + 8; ++y)
        for (uint64_t x = x0; x < x0 + 8; ++x) p.at(x, y) = v;
}
}  // namespace

TEST(Exposure, UnvisitedEntriesKeepTheirStartingValues) {
    // No block visited: (4 * 16320 + 4 * 0) / 512.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{8, 100}, {100, 8}, {8, 8}, {7, 40}, {40, 3}, {0, 0}}) {
        TestPicture p(w, h, 200);
        EXPECT_EQ(exposure(p.get()), 127.5) << w << "x" << h;
    }
    // 16 x 16: only the block at (0, 0); it sits in both lists once.
    TestPicture black(16, 16, 0);
    EXPECT_EQ(exposure(black.get()), 95.625);
    TestPicture grey(16, 16, 40);
    EXPECT_EQ(exposure(grey.get()), (2 * 40 * 64 + 3 * 16320) / 512.0);
    // 17 x 16: one pixel column right of x0 = 8 is enough, two blocks.
    TestPicture wider(17, 16, 0);
    EXPECT_EQ(exposure(wider.get()), 2 * 16320 / 512.0);
}

TEST(Exposure, UniformPicturesGiveTheirValue) {
    for (uint8_t v : {0, 1, 77, 255}) {
        TestPicture p(17, 17, v);  // four visited blocks
        EXPECT_EQ(exposure(p.get()), static_cast<double>(v)) << int(v);
        TestPicture q(64, 48, v);
        EXPECT_EQ(exposure(q.get()), static_cast<double>(v)) << int(v);
    }
}

TEST(Exposure, FourDarkestAndFourBrightestBlocks) {
    // 48 x 48 visits a 5 x 5 grid of blocks; levels 0..24 spread over it.
    TestPicture p(48, 48, 250);  // the unvisited last row and column are bright
    for (uint64_t by = 0; by < 5; ++by)
        for (uint64_t bx = 0; bx < 5; ++bx) fillBlock(p, bx * 8, by * 8, static_cast<uint8_t>(10 * (bx * 5 + by)));
    // Darkest 0, 10, 20, 30; brightest 240, 230, 220, 210.
    EXPECT_EQ(exposure(p.get()), (0 + 10 + 20 + 30 + 240 + 230 + 220 + 210) / 8.0);
    // Equal sums: a second block at the level 0 pushes 30 out of the darkest.
    fillBlock(p, 32, 0, 0);  // was 200
    EXPECT_EQ(exposure(p.get()), (0 + 0 + 10 + 20 + 240 + 230 + 220 + 210) / 8.0);
}

TEST(Exposure, HdBlockWalkLeavesTheLastBlockColumnAndRowOut) {
    TestPicture p(1920, 1080, 100);
    const double neutral = 100.0;
    ASSERT_EQ(exposure(p.get()), neutral);

    // Blocks at x0 = 1912 or y0 = 1072 are not visited.
    fillBlock(p, 1912, 0, 255);
    fillBlock(p, 0, 1072, 0);
    fillBlock(p, 1912, 1072, 255);
    EXPECT_EQ(exposure(p.get()), neutral);

    // x0 = 1904 and y0 = 1064 are the last visited ones.
    fillBlock(p, 1904, 0, 255);
    EXPECT_EQ(exposure(p.get()), (255.0 + 3 * 100 + 4 * 100) / 8);
    fillBlock(p, 8, 1064, 0);
    EXPECT_EQ(exposure(p.get()), (255.0 + 3 * 100 + 0 + 3 * 100) / 8);
    // A pixel right of x0 + 7 belongs to the next block.
    p.at(1911, 500) = 0;
    p.at(1912, 501) = 0;
    EXPECT_EQ(exposure(p.get()), (255.0 + 3 * 100 + 0 + (63 * 100 + 0) / 64.0 + 2 * 100) / 8);
}
