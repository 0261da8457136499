#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fast(const Image* img, IndicatorState& state) { return blockiness(img, state); }
double ref(const Image* img) { return reference::blockiness(img); }
}  // namespace

TEST(BlockinessExact, SameBitsAsTheReferenceOnTheSharedPictures) { expectSameOnAllPictures(fast, ref); }

TEST(BlockinessExact, SameBitsOnOddSizesAndLongLines) {
    // Sizes below 16 have no grid line in that direction; 16 to 23 one line,
    // 24 to 31 two. Widths from 8208 on have more than 1024 vertical lines,
    // and rows of 70001 pixels or columns of 70001 rows pass the 65536 spans.
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    uint32_t seed = 800;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{8199, 16}, {8200, 17}, {8207, 24}, {8208, 16}, {8216, 25},
                        {16400, 9}, {16401, 16}})
        pictures.push_back(randomStressPicture("random", w, h, seed++));
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(BlockinessExact, SameBitsOnGridAlignedContent) {
    std::vector<StressPicture> pictures;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{16, 16}, {24, 17}, {17, 24}, {33, 47}, {2064, 40},
                        {2072, 24}, {1920, 1080}}) {
        // Steps only on the grid lines: 0 / positive = 0.
        pictures.push_back(stressPicture("flat blocks", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(((x / 8) * 37 + (y / 8) * 91) % 256);
        }));
        // Steps only inside, just above and left of the lines: positive / 0 = infinity.
        pictures.push_back(stressPicture("steps beside the lines", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t((((x + 1) / 8) * 40 + ((y + 1) / 8) * 70) % 256);
        }));
        // Only the rows change, and only inside: infinity from the rows alone.
        pictures.push_back(stressPicture("row steps beside the lines", w, h,
                                         [](uint64_t, uint64_t y) { return uint8_t((((y + 1) / 8) * 70) % 256); }));
        // One grid line much stronger than the others, first, last or in the
        // middle, in each direction: the line weights tell them apart.
        const uint64_t lastV = (w / 8 - 1) * 8;
        const uint64_t lastH = (h / 8 - 1) * 8;
        for (uint64_t k : {uint64_t{8}, lastV, (w / 16) * 8}) {
            pictures.push_back(stressPicture("strong vertical line at " + std::to_string(k), w, h,
                                             [=](uint64_t x, uint64_t y) {
                                                 return uint8_t(x >= k ? 200 - (x + y) % 9 : 20 + (x * y) % 7);
                                             }));
        }
        for (uint64_t k : {uint64_t{8}, lastH, (h / 16) * 8}) {
            pictures.push_back(stressPicture("strong horizontal line at " + std::to_string(k), w, h,
                                             [=](uint64_t x, uint64_t y) {
                                                 return uint8_t(y >= k ? 220 - (x * 3 + y) % 5 : 10 + (x + y) % 6);
                                             }));
        }
        pictures.push_back(stressPicture("uniform", w, h, [](uint64_t, uint64_t) { return uint8_t(128); }));
    }
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(BlockinessExact, RunningSumsBeyondThirtyTwoBits) {
    // A checkerboard steps by 255 everywhere. At 8192 x 8320 the horizontal
    // running sums reach 255 x 8192 x 1039 > 2^31, and the totals pass 2^32
    // many times over; the ratio is exactly 1.
    StressPicture p = stressPicture("checkerboard", 8192, 8320,
                                    [](uint64_t x, uint64_t y) { return uint8_t((x + y) % 2 ? 255 : 0); });
    const double want = reference::blockiness(p.get());
    EXPECT_EQ(want, 1.0);
    // Inside steps slightly weaker than the steps across on the lines between
    // rows: the exact totals decide the last bits.
    StressPicture q = stressPicture("weaker inside", 8192, 8320, [](uint64_t x, uint64_t y) {
        return uint8_t(y % 8 == 7 ? ((x + y) % 2 ? 250 : 3) : ((x + y) % 2 ? 255 : 0));
    });
    const double wantQ = reference::blockiness(q.get());
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_TRUE(sameResult(blockiness(p.get(), state), want)) << isaName(isa);
        EXPECT_TRUE(sameResult(blockiness(q.get(), state), wantQ)) << isaName(isa);
    }
}
