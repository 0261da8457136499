#include <gtest/gtest.h>

#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fast(const Image* img, IndicatorState& state) { return interlace(img, state); }
double ref(const Image* img) { return reference::interlace(img); }

// Rows alternately dark and bright, with a little texture: every column zigzags.
uint8_t combed(uint64_t x, uint64_t y) { return uint8_t(y % 2 ? 30 + (x * 7 + y) % 11 : 220 - (x * 3 + y) % 13); }
}  // namespace

TEST(InterlaceExact, SameBitsAsTheReferenceOnTheSharedPictures) { expectSameOnAllPictures(fast, ref); }

TEST(InterlaceExact, SameBitsOnOddSizesAndLongLines) {
    // Sizes 0 to 3 have no whole block (0 / 0); partial blocks at the right
    // and bottom edges are left out.
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(InterlaceExact, SameBitsOnCombedPicturesWithBrokenColumns) {
    std::vector<StressPicture> pictures;
    for (uint64_t w = 3; w <= 9; ++w)
        for (uint64_t h = 3; h <= 9; ++h) pictures.push_back(stressPicture("combed", w, h, combed));
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1023, 19}, {1024, 16}, {1025, 17}, {1031, 22}, {2050, 13},
                        {1920, 1080}, {4099, 9}}) {
        pictures.push_back(stressPicture("combed", w, h, combed));
        // One column of a block stops zigzagging (its second and third values
        // are equal), at a different column of its block from band to band,
        // and on both sides of the 1024-column passes in every band.
        pictures.push_back(stressPicture("combed with broken columns", w, h, [](uint64_t x, uint64_t y) {
            const uint64_t band = y / 4;
            const bool broken = x % 37 == band % 5 || x == 1023 || x == 1024;
            return broken && y % 4 == 2 ? combed(x, y - 1) : combed(x, y);
        }));
        // Combing only in the partial blocks beyond the last whole one.
        pictures.push_back(stressPicture("combed outside the whole blocks", w, h, [=](uint64_t x, uint64_t y) {
            return x >= w / 4 * 4 || y >= h / 4 * 4 ? combed(x, y) : uint8_t(77);
        }));
        // Random zigzags: each column zigzags with a fair chance.
        std::mt19937 gen(static_cast<uint32_t>(w + 1000 * h));
        std::vector<uint8_t> up(w);
        for (auto& u : up) u = uint8_t(gen() % 4);
        pictures.push_back(stressPicture("random phases", w, h, [&](uint64_t x, uint64_t y) {
            return uint8_t((y + up[x]) % 2 ? 100 + up[x] : 100 - (y % 3 == 0 ? 0 : up[x]));
        }));
    }
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(InterlaceExact, HandCountedShares) {
    // 1920 x 1080: 129600 blocks; 1296 combed blocks (324 in each of the
    // first four bands) give exactly 0.01.
    StressPicture q = stressPicture("1296 combed blocks", 1920, 1080, [](uint64_t x, uint64_t y) {
        return y < 16 && x < 4 * 324 ? combed(x, y) : uint8_t(9);
    });
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_EQ(interlace(q.get(), state), 0.01) << isaName(isa);
    }
}
