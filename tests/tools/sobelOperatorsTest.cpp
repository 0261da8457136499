#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/pictures.hpp"
#include "support/refusals.hpp"
#include "support/toolkit.hpp"

using namespace lumaqc;

namespace {
// Destinations of exactly w x h pixels, filled with stale values so that every
// pixel the operator leaves unwritten shows.
struct Pair32 {
    Image32 x, y;
    Pair32(uint64_t w, uint64_t h) : x(allocImage32(w, h)), y(allocImage32(w, h)) {
        for (uint64_t i = 0; i < w * h; ++i) x.data[i] = y.data[i] = -777;
    }
    ~Pair32() {
        freeImage32(&x);
        freeImage32(&y);
    }
    int32_t X(uint64_t c, uint64_t r) const { return x.data[r * x.w + c]; }
    int32_t Y(uint64_t c, uint64_t r) const { return y.data[r * y.w + c]; }
};

struct Pair8 {
    Image x, y;
    Pair8(uint64_t w, uint64_t h) : x(allocImage(w, h)), y(allocImage(w, h)) {
        for (uint64_t i = 0; i < w * h; ++i) x.data[i] = y.data[i] = 77;
    }
    ~Pair8() {
        freeImage(&x);
        freeImage(&y);
    }
    int X(uint64_t c, uint64_t r) const { return x.data[r * x.w + c]; }
    int Y(uint64_t c, uint64_t r) const { return y.data[r * y.w + c]; }
};

// 0 left of column 5 and `bright` from it on (or the other way round).
TestPicture stepEdge(uint64_t w, uint64_t h, bool brightRight) {
    TestPicture p(w, h);
    p.fill([brightRight](uint64_t x, uint64_t) { return static_cast<uint8_t>((x >= 5) == brightRight ? 100 : 0); });
    return p;
}
}  // namespace

TEST(Sobel, StepEdgesInBothDirections) {
    const uint64_t w = 9, h = 6;
    for (bool brightRight : {true, false}) {
        TestPicture p = stepEdge(w, h, brightRight);
        Pair32 d(w, h);
        const double energy = sobel(p.get(), &d.x, &d.y);
        const int32_t g = brightRight ? 400 : -400;
        for (uint64_t r = 0; r < h; ++r)
            for (uint64_t c = 0; c < w; ++c) {
                const bool edge = r >= 1 && r + 1 < h && (c == 4 || c == 5);
                EXPECT_EQ(d.X(c, r), edge ? g : 0) << c << "," << r;
                EXPECT_EQ(d.Y(c, r), 0) << c << "," << r;
            }
        EXPECT_EQ(energy, std::sqrt(2.0 * (h - 2) * 160000.0));

        Pair8 e(w, h);
        const int32_t sum = sobel2(p.get(), &e.x, &e.y);
        const int stored = brightRight ? 144 : 112;  // 400 and -400 modulo 256
        for (uint64_t r = 0; r < h; ++r)
            for (uint64_t c = 0; c < w; ++c) {
                const bool edge = r >= 1 && r + 1 < h && (c == 4 || c == 5);
                EXPECT_EQ(e.X(c, r), edge ? stored : 0) << c << "," << r;
                EXPECT_EQ(e.Y(c, r), 0) << c << "," << r;
            }
        EXPECT_EQ(sum, stored * 2 * static_cast<int32_t>(h - 2));
    }

    // A horizontal edge drives Gy (bottom minus top) instead.
    TestPicture hz(6, 7);
    hz.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y < 3 ? 50 : 0); });
    Pair32 d(6, 7);
    const double energy = sobel(hz.get(), &d.x, &d.y);
    for (uint64_t r = 0; r < 7; ++r)
        for (uint64_t c = 0; c < 6; ++c) {
            const bool edge = (r == 2 || r == 3) && c >= 1 && c <= 4;
            EXPECT_EQ(d.Y(c, r), edge ? -200 : 0) << c << "," << r;
            EXPECT_EQ(d.X(c, r), 0);
        }
    EXPECT_EQ(energy, std::sqrt(8 * 40000.0));
}

TEST(Sobel, EnergyIsTheRootOfTheTotalAndSobel2TruncatesEveryAddition) {
    // Two interior pixels touched by one corner pixel each:
    // (1,1) sees S(0,0) = 1 as Gx = Gy = -1, (4,1) sees S(5,2) = 1 as Gx = Gy = 1.
    TestPicture p(6, 3);
    p.at(0, 0) = 1;
    p.at(5, 2) = 1;
    Pair32 d(6, 3);
    EXPECT_EQ(sobel(p.get(), &d.x, &d.y), 2.0);  // sqrt(2 + 2), not sqrt(2) + sqrt(2)
    EXPECT_EQ(d.X(1, 1), -1);
    EXPECT_EQ(d.Y(1, 1), -1);
    EXPECT_EQ(d.X(4, 1), 1);
    EXPECT_EQ(d.Y(4, 1), 1);

    Pair8 e(6, 3);
    // 255 * sqrt(2) = 360.62 truncates to 360, then 360 + 1.41 to 361
    // (truncating only the total would give 362).
    EXPECT_EQ(sobel2(p.get(), &e.x, &e.y), 361);
    EXPECT_EQ(e.X(1, 1), 255);
    EXPECT_EQ(e.Y(1, 1), 255);
    EXPECT_EQ(e.X(4, 1), 1);
    EXPECT_EQ(e.Y(4, 1), 1);

    // Responses of the extreme picture: a 3 x 3 with a white right column.
    TestPicture q(3, 3);
    q.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x == 2 ? 255 : 0); });
    Pair32 f(3, 3);
    EXPECT_EQ(sobel(q.get(), &f.x, &f.y), 1020.0);
    EXPECT_EQ(f.X(1, 1), 1020);
    Pair8 g(3, 3);
    EXPECT_EQ(sobel2(q.get(), &g.x, &g.y), 252);  // 1020 mod 256
}

TEST(Sobel, UniformThinAndEmptyPicturesGiveZeros) {
    const std::pair<uint64_t, uint64_t> sizes[] = {{7, 5}, {6, 2}, {2, 6}, {1, 5}, {5, 1}, {1, 1}, {2, 2}};
    for (auto [w, h] : sizes) {
        TestPicture p(w, h);
        p.randomise(static_cast<uint32_t>(w * 10 + h));
        if (w >= 3 && h >= 3) p.fill([](uint64_t, uint64_t) { return uint8_t{201}; });
        Pair32 d(w, h);
        EXPECT_EQ(sobel(p.get(), &d.x, &d.y), 0.0) << w << "x" << h;
        Pair8 e(w, h);
        EXPECT_EQ(sobel2(p.get(), &e.x, &e.y), 0) << w << "x" << h;
        for (uint64_t i = 0; i < w * h; ++i) {
            ASSERT_EQ(d.x.data[i], 0) << w << "x" << h;
            ASSERT_EQ(d.y.data[i], 0) << w << "x" << h;
            ASSERT_EQ(e.x.data[i], 0) << w << "x" << h;
            ASSERT_EQ(e.y.data[i], 0) << w << "x" << h;
        }
    }
    int32_t s32[1] = {5};
    uint8_t s8[1] = {5};
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{0, 4}, {4, 0}}) {
        TestPicture p(w, h);
        Image32 a = makeImage32(w, h, s32), b = makeImage32(w, h, s32);
        Image c = makeImage(w, h, s8), e = makeImage(w, h, s8);
        EXPECT_EQ(sobel(p.get(), &a, &b), 0.0);
        EXPECT_EQ(sobel2(p.get(), &c, &e), 0);
        EXPECT_TRUE(absGradient(p.get(), &a, &b).ok());
    }
    EXPECT_EQ(s32[0], 5);
    EXPECT_EQ(s8[0], 5);
}

// f(x) + g(y) with f and g stepping by 63 or -65 every two pixels: every
// interior response is 4 * (63 mod 64) = 252 (mod 256) in both directions, so
// every stored magnitude is 252 * sqrt(2) = 356.38.
TEST(Sobel, Sobel2SumBeyondThirtyTwoBits) {
    const uint64_t n = 2500;
    std::vector<uint8_t> steps(n / 2 + 1);
    for (size_t k = 1; k < steps.size(); ++k)
        steps[k] = static_cast<uint8_t>(steps[k - 1] + 63 <= 127 ? steps[k - 1] + 63 : steps[k - 1] - 65);
    TestPicture p(n, n);
    p.fill([&](uint64_t x, uint64_t y) { return static_cast<uint8_t>(steps[x / 2] + steps[y / 2]); });
    Pair8 e(n, n);
    const int32_t sum = sobel2(p.get(), &e.x, &e.y);
    EXPECT_EQ(e.X(1, 1), 252);
    EXPECT_EQ(e.Y(n - 2, n - 2), 252);

    // Each addition keeps 356 while the total is positive; past INT32_MAX the
    // total becomes INT32_MIN, from where truncation towards zero keeps 357.
    int64_t expected = 0;
    for (uint64_t i = 0; i < (n - 2) * (n - 2); ++i) {
        if (expected < 0)
            expected += 357;
        else if (expected >= 2147483292)
            expected = INT32_MIN;
        else
            expected += 356;
    }
    EXPECT_LT(expected, 0);
    EXPECT_EQ(sum, expected);
}

TEST(AbsGradient, StepEdgeEitherWayAndLastRowAndColumn) {
    for (bool brightRight : {true, false}) {
        TestPicture p = stepEdge(9, 5, brightRight);
        Pair32 d(9, 5);
        EXPECT_TRUE(absGradient(p.get(), &d.x, &d.y).ok());
        for (uint64_t r = 0; r < 5; ++r)
            for (uint64_t c = 0; c < 9; ++c) {
                EXPECT_EQ(d.X(c, r), (r >= 1 && c == 5) ? 100 : 0) << c << "," << r;
                EXPECT_EQ(d.Y(c, r), 0) << c << "," << r;
            }
    }
    // Differences in the last row and column are computed; row 0 and column 0 are 0.
    TestPicture q(4, 3);
    q.at(3, 2) = 255;
    Pair32 d(4, 3);
    EXPECT_TRUE(absGradient(q.get(), &d.x, &d.y).ok());
    EXPECT_EQ(d.X(3, 2), 255);
    EXPECT_EQ(d.Y(3, 2), 255);
    q.at(3, 2) = 0;
    q.at(0, 1) = 9;
    q.at(2, 0) = 40;
    EXPECT_TRUE(absGradient(q.get(), &d.x, &d.y).ok());
    EXPECT_EQ(d.X(1, 1), 9);
    EXPECT_EQ(d.Y(0, 1), 0);
    EXPECT_EQ(d.X(3, 0), 0);
    EXPECT_EQ(d.Y(2, 1), 40);
    // One column (all column 0) or one row (all row 0): only zeros, even
    // across a vertical or horizontal change, and nothing written outside.
    TestPicture col(1, 4, 200), row(4, 1, 3);
    col.at(0, 2) = 0;
    row.at(2, 0) = 90;
    Pair32 c1(1, 4), r1(4, 1);
    EXPECT_TRUE(absGradient(col.get(), &c1.x, &c1.y).ok());
    EXPECT_TRUE(absGradient(row.get(), &r1.x, &r1.y).ok());
    for (uint64_t i = 0; i < 4; ++i) {
        EXPECT_EQ(c1.x.data[i], 0);
        EXPECT_EQ(c1.y.data[i], 0);
        EXPECT_EQ(r1.x.data[i], 0);
        EXPECT_EQ(r1.y.data[i], 0);
    }
}

TEST(SobelOperators, WrongDestinationSizesAreRefusedWithNothingWritten) {
    TestPicture p(8, 6);
    p.randomise(9);
    Pair32 good(8, 6), narrow(7, 6), shortOne(8, 5);
    Pair8 good8(8, 6), narrow8(7, 6), short8(8, 5);
    EXPECT_TRUE(std::isnan(sobel(p.get(), &narrow.x, &good.y)));
    EXPECT_TRUE(std::isnan(sobel(p.get(), &good.x, &shortOne.y)));
    EXPECT_EQ(sobel2(p.get(), &short8.x, &good8.y), -1);
    EXPECT_EQ(sobel2(p.get(), &good8.x, &narrow8.y), -1);
    expectRefused(absGradient(p.get(), &shortOne.x, &good.y), "absGradient", "src->h == destX->h && src->w == destX->w");
    expectRefused(absGradient(p.get(), &good.x, &narrow.y), "absGradient", "src->h == destY->h && src->w == destY->w");
    // destX is checked first when both are wrong.
    expectRefused(absGradient(p.get(), &shortOne.x, &narrow.y), "absGradient", "src->h == destX->h && src->w == destX->w");
    for (const Pair32* d : {&good, &narrow, &shortOne}) EXPECT_TRUE(holdsOnly(d->x, -777) && holdsOnly(d->y, -777));
    for (const Pair8* d : {&good8, &narrow8, &short8}) EXPECT_TRUE(holdsOnly(d->x, 77) && holdsOnly(d->y, 77));
}
