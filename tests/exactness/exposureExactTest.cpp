#include <gtest/gtest.h>

#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fast(const Image* img, IndicatorState& state) { return exposure(img, state); }
double ref(const Image* img) { return reference::exposure(img); }

// Flat 8 x 8 blocks, the block at (bx, by) at level(bx, by); the pixels right
// of or below the last whole block take the level of the block they would
// belong to.
StressPicture blockPicture(std::string name, uint64_t w, uint64_t h,
                           const std::function<uint8_t(uint64_t, uint64_t)>& level) {
    return stressPicture(std::move(name), w, h, [&](uint64_t x, uint64_t y) { return level(x / 8, y / 8); });
}
}  // namespace

TEST(ExposureExact, SameBitsAsTheReferenceOnTheSharedPictures) { expectSameOnAllPictures(fast, ref); }

TEST(ExposureExact, SameBitsOnOddSizesAndLongLines) {
    // Sizes up to 8 visit no block, 9 to 16 one column or row of them; widths
    // above 2056 hold more than 256 visited blocks per block row.
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(ExposureExact, SameBitsWithTiedBlockSums) {
    std::vector<StressPicture> pictures;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{17, 17}, {25, 17}, {41, 41}, {64, 48}, {2072, 33}, {1920, 1080}}) {
        // Two levels only: every block ties with many others, and white blocks
        // tie with the starting entries 16320 of the darkest list, black ones
        // with the starting entries 0 of the brightest list.
        pictures.push_back(blockPicture("black and white blocks", w, h, [](uint64_t bx, uint64_t by) {
            return uint8_t((bx * 7 + by * 3) % 5 < 2 ? 255 : 0);
        }));
        pictures.push_back(blockPicture("three levels", w, h, [](uint64_t bx, uint64_t by) {
            return uint8_t(100 + (bx + 2 * by) % 3);
        }));
        // Exactly three, four or five white blocks on grey, and the same in black.
        for (int count : {1, 3, 4, 5}) {
            pictures.push_back(blockPicture("white blocks " + std::to_string(count), w, h,
                                            [=](uint64_t bx, uint64_t by) {
                                                return uint8_t(by == 0 && bx < uint64_t(count) ? 255 : 90);
                                            }));
            pictures.push_back(blockPicture("black blocks " + std::to_string(count), w, h,
                                            [=](uint64_t bx, uint64_t by) {
                                                return uint8_t(bx == 0 && by < uint64_t(count) ? 0 : 90);
                                            }));
        }
        // Equal sums made of different pixels.
        pictures.push_back(stressPicture("equal sums, different pixels", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t((x + y) % 2 ? 60 + (x / 8) % 2 : 60 - (x / 8) % 2);
        }));
    }
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(ExposureExact, SameBitsWithExtremesAtTheEdgesOfTheBlockWalk) {
    // The walk stops before x0 = w - 8 and y0 = h - 8: put the darkest and the
    // brightest blocks in the last visited and the first unvisited block
    // columns and rows, and in the block column just past 256 visited blocks.
    std::vector<StressPicture> pictures;
    const uint64_t widths[] = {16, 17, 23, 24, 25, 33, 2056, 2057, 2064, 2065};
    const uint64_t heights[] = {16, 17, 23, 24, 25, 40};
    for (uint64_t w : widths)
        for (uint64_t h : heights) {
            const uint64_t lastX = (w - 1) / 8 - 1;  // last visited block column
            const uint64_t lastY = (h - 1) / 8 - 1;
            pictures.push_back(blockPicture("dark last visited", w, h, [=](uint64_t bx, uint64_t by) {
                return uint8_t(bx == lastX && by == lastY ? 2 : (bx > lastX || by > lastY ? 0 : 120));
            }));
            pictures.push_back(blockPicture("bright last visited", w, h, [=](uint64_t bx, uint64_t by) {
                return uint8_t(bx == lastX || by == lastY ? 250 : (bx > lastX || by > lastY ? 255 : 120));
            }));
            pictures.push_back(blockPicture("bright unvisited", w, h, [=](uint64_t bx, uint64_t by) {
                return uint8_t(bx > lastX || by > lastY ? 255 : 100 + (bx + by) % 7);
            }));
            pictures.push_back(blockPicture("ramp of blocks", w, h, [](uint64_t bx, uint64_t by) {
                return uint8_t((bx * 13 + by * 29) % 256);
            }));
            pictures.push_back(blockPicture("second span", w, h, [](uint64_t bx, uint64_t by) {
                return uint8_t(bx == 256 ? 255 : (bx == 257 && by == 0 ? 0 : 128));
            }));
        }
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(ExposureExact, HandCountedValues) {
    // 24 x 24 visits the 2 x 2 blocks at the top left: levels 10, 20, 30, 40
    // fill both lists, (2 x (10 + 20 + 30 + 40)) / 8 = 25.
    StressPicture p = blockPicture("four levels", 24, 24, [](uint64_t bx, uint64_t by) {
        return uint8_t(bx < 2 && by < 2 ? 10 + 10 * (bx + 2 * by) : 255);
    });
    // 16 x 9: one block, sum 64 v: (2 x 64 v + 3 x 16320) / 512.
    StressPicture q = blockPicture("one block", 16, 9, [](uint64_t, uint64_t) { return uint8_t(40); });
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_EQ(exposure(p.get(), state), 25.0) << isaName(isa);
        EXPECT_EQ(exposure(q.get(), state), (2 * 64 * 40 + 3 * 16320) / 512.0) << isaName(isa);
    }
}
