#include <gtest/gtest.h>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fast(const Image* img, IndicatorState& state) { return brightestBlock(img, state); }
double ref(const Image* img) { return reference::brightestBlock(img); }
}  // namespace

TEST(BrightestBlockExact, SameAsTheReferenceOnTheSharedPictures) { expectSameOnAllPictures(fast, ref); }

TEST(BrightestBlockExact, SameOnOddSizesAndLongLines) {
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(BrightestBlockExact, OneBrighterBlockAnywhereOnTheGridAndBrightnessOutsideIt) {
    std::vector<StressPicture> pictures;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{8, 8}, {31, 23}, {2072, 33}, {4104, 12}, {1920, 1080}}) {
        const uint64_t lastX = w / 8 - 1;
        const uint64_t lastY = h / 8 - 1;
        const std::pair<uint64_t, uint64_t> places[] = {{0, 0}, {lastX, lastY}, {lastX, 0}, {0, lastY}, {256, lastY}};
        for (auto [bx, by] : places) {
            if (bx > lastX) continue;
            for (int level : {16, 17, 255})
                pictures.push_back(stressPicture(
                    "block of " + std::to_string(level) + " at " + std::to_string(bx) + "," + std::to_string(by), w,
                    h, [=](uint64_t x, uint64_t y) {
                        // One pixel of the block a grey level lower: a mean that is not whole.
                        if (x / 8 == bx && y / 8 == by) return uint8_t(x % 8 == 3 && y % 8 == 5 ? level - 1 : level);
                        return uint8_t(16);
                    }));
        }
        pictures.push_back(stressPicture("bright right of and below the grid", w, h, [=](uint64_t x, uint64_t y) {
            return uint8_t(x >= w / 8 * 8 || y >= h / 8 * 8 ? 255 : 0);
        }));
    }
    expectSameOnStressPictures(pictures, fast, ref);
}
