#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

namespace {
// A plain edge-width measure written from the definition: backward
// differences, squared horizontal differences against sixteen times their
// mean, and widths counted against a local threshold below 1/8 (a difference
// keeps the edge's direction when it is at least 1 in that direction).
double plainEdgeWidth(TestPicture& p) {
    const int W = static_cast<int>(p.img.w), H = static_cast<int>(p.img.h);
    auto gx = [&](int x, int y) { return (x == 0 || y == 0) ? 0 : p.at(x, y) - p.at(x - 1, y); };
    auto gy = [&](int x, int y) { return (x == 0 || y == 0) ? 0 : p.at(x, y) - p.at(x, y - 1); };
    auto g2 = [&](int x, int y) { return gx(x, y) * gx(x, y); };
    double total = 0.0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) total += g2(x, y);
    const double T = total / (static_cast<double>(W) * H) * 16.0;
    long edges = 0, widths = 0;
    for (int y = 1; y + 1 < H; ++y)
        for (int x = 1; x + 1 < W; ++x) {
            const int v = g2(x, y);
            if (!(v > T)) continue;
            const bool horizontal =
                g2(x - 1, y) <= v && v > g2(x + 1, y) && std::abs(gx(x, y)) >= std::abs(gy(x, y));
            const bool vertical = g2(x, y - 1) <= v && v > g2(x, y + 1);
            if (!horizontal && !vertical) continue;
            const int a = gx(x, y), b = gx(x + 1, y);
            const int sgn = (a < 0 || b < 0) ? -1 : 1;
            if (a >= 0 && b >= 0 && a == 0 && b == 0) continue;
            ++edges;
            int right = 0;
            while (x + right + 1 <= W - 2 && sgn * gx(x + right + 1, y) >= 1) ++right;
            int left = 0;
            if (x > 1)
                while (x - left >= 2 && sgn * gx(x - left, y) >= 1) ++left;
            widths += left + right;
        }
    return widths != 0 ? static_cast<double>(widths) / static_cast<double>(edges) : 0.0;
}
}  // namespace

TEST(Blur, FlatAndTooLowPicturesGiveZero) {
    TestPicture flat(64, 48, 90);
    EXPECT_EQ(blur(flat.get()), 0.0);
    // One and two rows: nothing is scanned, even across a strong edge.
    for (uint64_t h : {1, 2}) {
        TestPicture low(50, h);
        low.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 25 ? 0 : 255); });
        EXPECT_EQ(blur(low.get()), 0.0) << h;
    }
}

TEST(Blur, StepAndRampEdgesRisingAndFalling) {
    TestPicture step(200, 40);
    step.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 100 ? 0 : 255); });
    EXPECT_EQ(blur(step.get()), 1.0);
    TestPicture fallingStep(200, 40);
    fallingStep.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 100 ? 255 : 0); });
    EXPECT_EQ(blur(fallingStep.get()), 1.0);

    // 0, 51, 102, 153, 204, 255 in columns 97 ... 102: five equal steps.
    auto ramp = [](uint64_t x) { return static_cast<uint8_t>(x < 97 ? 0 : x > 102 ? 255 : (x - 97) * 51); };
    TestPicture rising(200, 40);
    rising.fill([&](uint64_t x, uint64_t) { return ramp(x); });
    EXPECT_EQ(blur(rising.get()), 5.0);
    TestPicture falling(200, 40);
    falling.fill([&](uint64_t x, uint64_t) { return static_cast<uint8_t>(255 - ramp(x)); });
    EXPECT_EQ(blur(falling.get()), 5.0);

    // A rising step and a falling five-step ramp in every row: widths 1 and 5.
    TestPicture both(1000, 40);
    both.fill([](uint64_t x, uint64_t) {
        if (x < 50) return uint8_t{0};
        if (x < 600) return uint8_t{255};
        return static_cast<uint8_t>(x > 604 ? 0 : 255 - (x - 599) * 51);
    });
    EXPECT_EQ(blur(both.get()), 3.0);
}

TEST(Blur, EdgesAtTheInnerColumnBounds) {
    // An edge pixel in column 1 has no left part: widths 0 there and 1 at the
    // falling step in column 60.
    TestPicture first(120, 30);
    first.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x >= 1 && x < 60 ? 255 : 0); });
    EXPECT_EQ(blur(first.get()), 0.5);

    // Steps in columns 1, 2, 3; the peak is column 3 and its left part stops
    // before column 1: width 2.
    TestPicture nearLeft(64, 30);
    nearLeft.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 3 ? x * 51 : 153); });
    EXPECT_EQ(blur(nearLeft.get()), 2.0);

    // An edge pixel in column W - 2 has no right part, although the last
    // column still rises: width 1.
    TestPicture last(64, 30);
    last.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 62 ? 0 : x == 62 ? 200 : 255); });
    EXPECT_EQ(blur(last.get()), 1.0);
    // An edge in column W - 3: its right part takes column W - 2 only: width 2.
    TestPicture beforeLast(64, 30);
    beforeLast.fill([](uint64_t x, uint64_t) {
        return static_cast<uint8_t>(x < 61 ? 0 : x == 61 ? 200 : x == 62 ? 230 : 255);
    });
    EXPECT_EQ(blur(beforeLast.get()), 2.0);
}

TEST(Blur, VerticalPeaksCountWhateverTheVerticalDifference) {
    // One changed row: pixel (10, 8) rises by 100 along the row and by 160 from
    // above; it is both a horizontal and a vertical peak of the squared
    // difference, and only the vertical peak lets it count.
    TestPicture single(32, 32);
    single.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(y != 8 ? 0 : x < 10 ? 60 : 160); });
    EXPECT_EQ(blur(single.get()), 1.0);

    // Rows 8 and 9 changed. (10, 8): |GY| = 210 > |GX| = 100 and not a
    // vertical peak, so it is no edge. (9, 8) is a vertical peak of width 2
    // and (10, 9) a horizontal peak of width 1: mean 1.5 (5/3 if (10, 8) counted).
    TestPicture pair(32, 32);
    pair.fill([](uint64_t x, uint64_t y) -> uint8_t {
        if (y == 8) return x < 9 ? 60 : x == 9 ? 110 : 210;
        if (y == 9) return x < 10 ? 60 : 160;
        return 0;
    });
    EXPECT_EQ(blur(pair.get()), 1.5);
}

TEST(Blur, AwkwardSizesMatchThePlainMeasure) {
    // Sizes that are not multiples of 16, some without any whole block.
    const std::pair<uint64_t, uint64_t> sizes[] = {{37, 21}, {15, 40}, {100, 17}, {40, 40}, {3, 3}, {17, 15}};
    uint32_t seed = 1;
    for (auto [w, h] : sizes) {
        TestPicture p(w, h);
        std::mt19937 gen(seed++);
        // Smooth waves with a few hard steps, so that edges pass the threshold.
        p.fill([&](uint64_t x, uint64_t y) {
            const double wave = 120.0 + 60.0 * std::sin(x * 0.7 + y * 0.3);
            return static_cast<uint8_t>(gen() % 9 == 0 ? (gen() & 0xff) : static_cast<int>(wave));
        });
        EXPECT_EQ(blur(p.get()), plainEdgeWidth(p)) << w << "x" << h;
    }
    // Sparse ramps of widths 1 to 4, moving from row to row, over a grain of
    // 0/1 steps that can lengthen or cut an edge.
    TestPicture wide(333, 77);
    std::mt19937 gen(9);
    for (uint64_t y = 0; y < 77; ++y) {
        int level = 60;
        for (uint64_t x = 0; x < 333; ++x) {
            for (int e = 0; e < 4; ++e) {
                const int start = 40 + 80 * e + static_cast<int>(y * 3 % 11);
                const int width = 1 + (e + static_cast<int>(y)) % 4;
                const int rise = (e % 2 ? -1 : 1) * 100 / width;
                if (static_cast<int>(x) >= start && static_cast<int>(x) < start + width) level += rise;
            }
            wide.at(x, y) = static_cast<uint8_t>(level + static_cast<int>(gen() % 2));
        }
    }
    const double reference = plainEdgeWidth(wide);
    EXPECT_GT(reference, 1.0);
    EXPECT_EQ(blur(wide.get()), reference);

    Image empty = makeImage(0, 0, nullptr);
    EXPECT_EQ(blur(&empty), 0.0);
    uint8_t column[5] = {0, 255, 0, 255, 0};
    Image narrow = makeImage(0, 5, column);
    EXPECT_EQ(blur(&narrow), 0.0);
}

TEST(BlurToMOS, ScoreFallsWithTheEdgeWidth) {
    // About 4.96, 4.50, 2.61 and 0.92, worked out to four places.
    EXPECT_NEAR(blurToMOS(0.0), 4.9615, 1e-4);
    EXPECT_NEAR(blurToMOS(2.0), 4.4952, 1e-4);
    EXPECT_NEAR(blurToMOS(5.0), 2.6114, 1e-4);
    EXPECT_NEAR(blurToMOS(10.0), 0.9151, 1e-4);
    EXPECT_GT(blurToMOS(1.0), blurToMOS(1.5));
    // Not-a-number scores become 0: a NaN width, and a very negative one (inf / inf).
    EXPECT_EQ(blurToMOS(0.0 / std::sqrt(0.0)), 0.0);
    EXPECT_EQ(blurToMOS(-1000.0), 0.0);
    EXPECT_EQ(blurToMOS(1000.0), 0.0);
}
