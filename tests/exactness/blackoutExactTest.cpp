#include <gtest/gtest.h>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fast(const Image* img, IndicatorState& state) { return blackout(img, state); }
double ref(const Image* img) { return reference::blackout(img); }

// Level `base` everywhere, except that the whole block (bx, by) sums to
// `delta` more (or less): |delta| / 64 on every pixel, the rest spread over
// the first pixels of the block.
StressPicture shiftedBlock(std::string name, uint64_t w, uint64_t h, uint8_t base, uint64_t bx, uint64_t by,
                           int delta) {
    const int sign = delta < 0 ? -1 : 1;
    const int magnitude = delta * sign;
    return stressPicture(std::move(name), w, h, [=](uint64_t x, uint64_t y) {
        if (x / 8 != bx || y / 8 != by) return base;
        const int index = static_cast<int>((y % 8) * 8 + x % 8);
        const int step = magnitude / 64 + (index < magnitude % 64 ? 1 : 0);
        return static_cast<uint8_t>(base + sign * step);
    });
}
}  // namespace

TEST(BlackoutExact, SameFlagAsTheReferenceOnTheSharedPictures) { expectSameOnAllPictures(fast, ref); }

TEST(BlackoutExact, SameFlagOnOddSizesAndLongLines) {
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(BlackoutExact, SpreadsOf255And256AnywhereOnTheGrid) {
    std::vector<StressPicture> pictures;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{24, 16}, {31, 23}, {2072, 33}, {4104, 12}, {1920, 1080}}) {
        const uint64_t lastX = w / 8 - 1;
        const uint64_t lastY = h / 8 - 1;
        const std::pair<uint64_t, uint64_t> places[] = {
            {0, 0}, {lastX, lastY}, {lastX, 0}, {0, lastY}, {lastX / 2, lastY / 2}, {256, lastY}, {257, 0}};
        for (auto [bx, by] : places) {
            if (bx > lastX) continue;
            const std::string at = " at " + std::to_string(bx) + "," + std::to_string(by);
            for (int delta : {255, 256, -255, -256, 300, 1})
                pictures.push_back(shiftedBlock("spread " + std::to_string(delta) + at, w, h, 100, bx, by, delta));
        }
        // Outside the grid nothing counts.
        pictures.push_back(stressPicture("bright right of and below the grid", w, h, [=](uint64_t x, uint64_t y) {
            return uint8_t(x >= w / 8 * 8 || y >= h / 8 * 8 ? 255 : 40);
        }));
        // Two blocks apart by 128 each way: 256 only between them.
        pictures.push_back(stressPicture("two blocks 128 apart each way", w, h, [=](uint64_t x, uint64_t y) {
            if (x / 8 == 0 && y / 8 == 0) return uint8_t(102);
            if (x / 8 == lastX && y / 8 == lastY) return uint8_t(98);
            return uint8_t(100);
        }));
        pictures.push_back(stressPicture("two blocks 127 and 128 apart", w, h, [=](uint64_t x, uint64_t y) {
            if (x / 8 == 0 && y / 8 == 0) return uint8_t(x == 0 && y == 0 ? 101 : 102);
            if (x / 8 == lastX && y / 8 == lastY) return uint8_t(98);
            return uint8_t(100);
        }));
    }
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(BlackoutExact, HandCountedFlags) {
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        // The last block of a wide grid, after more than 256 blocks of its row.
        StressPicture p255 = shiftedBlock("255", 2072, 33, 0, 258, 3, 255);
        StressPicture p256 = shiftedBlock("256", 2072, 33, 0, 258, 3, 256);
        EXPECT_EQ(blackout(p255.get(), state), 1) << isaName(isa);
        EXPECT_EQ(blackout(p256.get(), state), 0) << isaName(isa);
        StressPicture darker = shiftedBlock("-256", 2072, 33, 200, 0, 0, -256);
        EXPECT_EQ(blackout(darker.get(), state), 0) << isaName(isa);
        StressPicture white = stressPicture("white", 1920, 1080, [](uint64_t, uint64_t) { return uint8_t(255); });
        EXPECT_EQ(blackout(white.get(), state), 1) << isaName(isa);
    }
}
