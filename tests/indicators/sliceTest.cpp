#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

namespace {
// An 8-bit picture in a buffer of exactly w * h bytes.
struct Exact {
    std::vector<uint8_t> v;
    Image img;
    Exact(uint64_t w, uint64_t h, const std::function<uint8_t(uint64_t, uint64_t)>& f)
        : v(static_cast<size_t>(w * h)), img{w, h, v.data()} {
        for (uint64_t y = 0; y < h; ++y)
            for (uint64_t x = 0; x < w; ++x) v[y * w + x] = f(x, y);
    }
};

// Row y is either a constant of 200 or more, or the ramp x + 3y (below 200):
// a ramp row matches no pixel 16 columns away and no row but another ramp of
// the same offset.
uint8_t ramp(uint64_t x, uint64_t offsetRow) { return static_cast<uint8_t>(x + 3 * offsetRow); }

// w = 32. Strip 0: constant rows 0..3 (horizontal share 64/256), rows 0 and 1
// repeated as rows 16 and 17 (vertical share 64/512): ratio 0.5. Strip 1:
// constant rows 16, 17 (32/256), rows 20 and 21 repeated as 36 and 37
// (64/512): ratio 1.0. Row 40, constant, only changes the unused horizontal
// share of strip 2. Rows from 48 on repeat rows 32 and 33.
uint8_t twoStrips(uint64_t x, uint64_t y) {
    if (y <= 3 || y == 16 || y == 17) return 200;
    if (y == 40) return 210;
    if (y == 36 || y == 37) return ramp(x, y - 16);
    if (y >= 48) return ramp(x, y - 16);
    return ramp(x, y);
}

// 1 / the smallest vertical-to-horizontal share ratio over the strips that
// have one, counted straight from the pixels.
double referenceSlice(const Image& p, uint64_t w, uint64_t h) {
    auto px = [&](uint64_t x, uint64_t y) { return p.data[y * w + x]; };
    bool any = false;
    double smallest = 0.0;
    for (uint64_t k = 0; k < (h - 16) / 16; ++k) {
        int32_t vertical = 0, horizontal = 0;
        for (uint64_t y = 16 * k; y < 16 * k + 16; ++y) {
            for (uint64_t x = 0; x < w; ++x) vertical += px(x, y) == px(x, y + 16);
            for (uint64_t x = 0; x + 16 < w; ++x) horizontal += px(x, y) == px(x + 16, y);
        }
        const double verticalShare = vertical / static_cast<double>(16 * w);
        const double horizontalShare = horizontal / static_cast<double>(16 * (w - 16));
        const double ratio = verticalShare / horizontalShare;
        if (std::isnan(ratio)) continue;
        if (!any || ratio < smallest) smallest = ratio;
        any = true;
    }
    EXPECT_TRUE(any);
    return 1.0 / smallest;
}
}  // namespace

TEST(Slice, HeightDecidesTheStrips) {
    Exact low(32, 47, twoStrips);
    EXPECT_EQ(slice(&low.img), -1.0);
    Exact h48(32, 48, twoStrips);
    EXPECT_EQ(slice(&h48.img), 2.0);
    // Rows 48 and 49 take no part.
    Exact h50(32, 50, twoStrips);
    EXPECT_EQ(slice(&h50.img), 2.0);
}

TEST(Slice, UniformAndRepeatingPictures) {
    Exact uniform(64, 64, [](uint64_t, uint64_t) { return uint8_t{9}; });
    EXPECT_EQ(slice(&uniform.img), 1.0);
    Exact narrowUniform(17, 48, [](uint64_t, uint64_t) { return uint8_t{0}; });
    EXPECT_EQ(slice(&narrowUniform.img), 1.0);

    // Rows repeat every 16 rows, columns never repeat at distance 16: every
    // ratio is 1/0 = +infinity and the result 0.
    Exact rows(40, 64, [](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x + 3 * (y % 16)); });
    const double r = slice(&rows.img);
    EXPECT_EQ(r, 0.0);
    EXPECT_FALSE(std::signbit(r));

    // Columns repeat every 16 columns, rows never at distance 16: ratio 0.
    Exact cols(40, 64, [](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x % 16 + 5 * y); });
    EXPECT_EQ(slice(&cols.img), HUGE_VAL);
}

TEST(Slice, StripsWithoutAnyMatchTakeNoPart) {
    // Strip 0 matches nothing either way (0/0); strip 1 has constant rows
    // 16..19 (horizontal share 64/256) and rows 16, 17 repeated below
    // (vertical share 64/512): ratio 0.5.
    Exact mixed(32, 48, [](uint64_t x, uint64_t y) {
        if ((y >= 16 && y <= 19) || y == 32 || y == 33) return uint8_t{200};
        return ramp(x, y);
    });
    EXPECT_EQ(slice(&mixed.img), 2.0);

    // No strip has a ratio: the result is the NaN of 0/0, computed.
    Exact none(32, 48, [](uint64_t x, uint64_t y) { return ramp(x, y); });
    const double v = slice(&none.img);
    EXPECT_TRUE(std::isnan(v));
    EXPECT_TRUE(std::signbit(v));
}

TEST(Slice, PicturesNoWiderThanAStripAreNotANumber) {
    for (uint64_t w : {16u, 15u, 10u, 1u, 0u}) {
        Exact p(w, 64, [](uint64_t x, uint64_t) { return static_cast<uint8_t>(x); });
        const double v = slice(&p.img);
        EXPECT_TRUE(std::isnan(v)) << w;
        EXPECT_TRUE(std::signbit(v)) << w;  // a computed 0/0, not a constant
    }
}

TEST(Slice, MatchesAStraightCountOnRandomPictures) {
    std::mt19937 gen(2024);
    const std::pair<uint64_t, uint64_t> sizes[] = {{17, 48}, {33, 50}, {40, 63}, {57, 80}, {100, 97}};
    for (auto [w, h] : sizes) {
        Exact p(w, h, [&](uint64_t, uint64_t) { return static_cast<uint8_t>(gen() % 3); });
        EXPECT_EQ(bitsOf(slice(&p.img)), bitsOf(referenceSlice(p.img, w, h))) << w << "x" << h;
    }
}

TEST(CompareDoubleAsc, OrderAndNotANumber) {
    const double one = 1.0, two = 2.0, nan = std::sqrt(-one);
    EXPECT_EQ(compare_Double_asc(&one, &two), -1);
    EXPECT_EQ(compare_Double_asc(&two, &one), 1);
    EXPECT_EQ(compare_Double_asc(&one, &one), 0);
    EXPECT_EQ(compare_Double_asc(&nan, &one), 0);
    EXPECT_EQ(compare_Double_asc(&one, &nan), 0);
    const double below = -HUGE_VAL, above = HUGE_VAL;
    EXPECT_EQ(compare_Double_asc(&below, &above), -1);
}
