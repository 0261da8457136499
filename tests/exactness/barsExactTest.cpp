// The fast bar sizes must equal the literal line-by-line composition, side
// by side, in every instruction-set variant.
#include <gtest/gtest.h>

#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {

void expectSameSides(std::vector<StressPicture>& pictures) {
    expectSameOnStressPictures(pictures, [](const Image* p, IndicatorState& s) { return barSizes(p, s).top; },
                               [](const Image* p) { return reference::barTop(p); });
    expectSameOnStressPictures(pictures, [](const Image* p, IndicatorState& s) { return barSizes(p, s).bottom; },
                               [](const Image* p) { return reference::barBottom(p); });
    expectSameOnStressPictures(pictures, [](const Image* p, IndicatorState& s) { return barSizes(p, s).left; },
                               [](const Image* p) { return reference::barLeft(p); });
    expectSameOnStressPictures(pictures, [](const Image* p, IndicatorState& s) { return barSizes(p, s).right; },
                               [](const Image* p) { return reference::barRight(p); });
}

// Bars of the given sizes at level `level`, each pixel of a bar off by up to
// `noise` (seeded), around textured content.
struct Framing {
    uint64_t top, bottom, left, right;
    int level, noise;
};

StressPicture framed(uint64_t w, uint64_t h, Framing f, uint32_t seed) {
    std::mt19937 gen(seed);
    return stressPicture("bars " + std::to_string(f.top) + "/" + std::to_string(f.bottom) + "/" +
                             std::to_string(f.left) + "/" + std::to_string(f.right) + " level " +
                             std::to_string(f.level) + " noise " + std::to_string(f.noise),
                         w, h, [&](uint64_t x, uint64_t y) {
                             const bool bar = y < f.top || y + f.bottom >= h || x < f.left || x + f.right >= w;
                             const int jitter = f.noise == 0 ? 0 : static_cast<int>(gen() % (2 * f.noise + 1)) - f.noise;
                             const int v = bar ? f.level + jitter : 40 + static_cast<int>((x * 7 + y * 13) % 180);
                             return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
                         });
}

}  // namespace

TEST(BarsExact, SameSizesOnRandomSmallAndLongPictures) {
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    expectSameSides(pictures);
}

TEST(BarsExact, SameSizesOnBarsOfEverySideSizeLevelAndNoise) {
    // Bar widths on both sides of the 64-column spans, levels on both sides of
    // the dark limit, noise on both sides of the flatness limit, one-sided
    // bars, and pictures that are all bar or one pixel across.
    const std::pair<uint64_t, uint64_t> sizes[] = {{1, 40}, {40, 1}, {2, 2}, {130, 97}, {352, 288}, {4099, 11}, {11, 300}};
    const uint64_t depths[] = {0, 1, 5, 63, 64, 65, 129};
    std::vector<StressPicture> pictures;
    uint32_t seed = 1;
    for (auto [w, h] : sizes)
        for (uint64_t d : depths)
            for (int level : {0, 24, 25})
                for (int noise : {0, 3, 6}) {
                    pictures.push_back(framed(w, h, {d, d, d, d, level, noise}, seed++));
                    pictures.push_back(framed(w, h, {d, 0, 0, 0, level, noise}, seed++));
                    pictures.push_back(framed(w, h, {0, d / 2, 0, 0, level, noise}, seed++));
                    pictures.push_back(framed(w, h, {0, 0, d, 0, level, noise}, seed++));
                    pictures.push_back(framed(w, h, {0, 0, 0, d + 3, level, noise}, seed++));
                    pictures.push_back(framed(w, h, {d / 3, d, d + 1, d / 2, level, noise}, seed++));
                }
    for (auto [w, h] : sizes) {
        pictures.push_back(stressPicture("all bar", w, h, [](uint64_t x, uint64_t y) { return uint8_t((x + y) % 3); }));
        pictures.push_back(stressPicture("dark ramp", w, h, [](uint64_t x, uint64_t) { return uint8_t(x % 40); }));
    }
    expectSameSides(pictures);
}

TEST(BarsExact, HandCountedBarsOfAWidescreenPictureInAFrame) {
    // 1920 x 1080 with 140 rows above, 138 below, 240 columns left and 4 right:
    // each bar is found whole, whatever its noise within the limits.
    StressPicture q = framed(1920, 1080, {140, 138, 240, 4, 16, 2}, 9);
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        const BarSizes b = barSizes(q.get(), state);
        EXPECT_EQ(b.top, 140.0) << isaName(isa);
        EXPECT_EQ(b.bottom, 138.0) << isaName(isa);
        EXPECT_EQ(b.left, 240.0) << isaName(isa);
        EXPECT_EQ(b.right, 4.0) << isaName(isa);
    }
}
