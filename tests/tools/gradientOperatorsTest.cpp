#include <gtest/gtest.h>

#include <algorithm>

#include "support/pictures.hpp"
#include "support/refusals.hpp"
#include "tools/gradients.hpp"

using namespace lumaqc;

namespace {
struct Pair {
    Image32 x, y;
    Pair(uint64_t w, uint64_t h) : x(callocImage32(w, h)), y(callocImage32(w, h)) {
        for (uint64_t i = 0; i < w * h; ++i) x.data[i] = y.data[i] = 12345;  // stale contents
    }
    ~Pair() {
        freeImage32(&x);
        freeImage32(&y);
    }
    int32_t X(uint64_t c, uint64_t r) const { return x.data[r * x.w + c]; }
    int32_t Y(uint64_t c, uint64_t r) const { return y.data[r * y.w + c]; }
};
}  // namespace

TEST(Roberts, VerticalAndHorizontalStepEdges) {
    TestPicture v(9, 5);
    v.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 4 ? 10 : 250); });
    Pair d(9, 5);
    EXPECT_TRUE(roberts(v.get(), &d.x, &d.y).ok());
    for (uint64_t r = 0; r < 5; ++r)
        for (uint64_t c = 0; c < 9; ++c) {
            const bool edge = r >= 1 && c == 4;
            EXPECT_EQ(d.X(c, r), edge ? 10 - 250 : 0) << c << "," << r;
            EXPECT_EQ(d.Y(c, r), edge ? 250 - 10 : 0) << c << "," << r;
        }

    TestPicture hz(6, 7);
    hz.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y < 3 ? 0 : 255); });
    Pair e(6, 7);
    EXPECT_TRUE(roberts(hz.get(), &e.x, &e.y).ok());
    for (uint64_t r = 0; r < 7; ++r)
        for (uint64_t c = 0; c < 6; ++c) {
            const int32_t want = (r == 3 && c >= 1) ? -255 : 0;
            EXPECT_EQ(e.X(c, r), want);
            EXPECT_EQ(e.Y(c, r), want);
        }
}

TEST(Gradient, BackwardDifferencesWithZeroFirstRowAndColumn) {
    TestPicture v(9, 5);
    v.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 4 ? 200 : 0); });
    Pair d(9, 5);
    EXPECT_TRUE(gradient(v.get(), &d.x, &d.y).ok());
    for (uint64_t r = 0; r < 5; ++r)
        for (uint64_t c = 0; c < 9; ++c) {
            EXPECT_EQ(d.X(c, r), (r >= 1 && c == 4) ? -200 : 0);
            EXPECT_EQ(d.Y(c, r), 0);
        }
    TestPicture hz(5, 6);
    hz.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y < 2 ? 7 : 9); });
    Pair e(5, 6);
    EXPECT_TRUE(gradient(hz.get(), &e.x, &e.y).ok());
    for (uint64_t r = 0; r < 6; ++r)
        for (uint64_t c = 0; c < 5; ++c) {
            EXPECT_EQ(e.X(c, r), 0);
            EXPECT_EQ(e.Y(c, r), (r == 2 && c >= 1) ? 2 : 0);
        }
}

TEST(GradientOperators, ThinAndUniformPicturesGiveZeros) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1, 6}, {6, 1}, {5, 5}}) {
        TestPicture p(w, h, 77);
        if (w > 1 && h > 1) p.at(0, 0) = 77;
        Pair r(w, h), g(w, h);
        EXPECT_TRUE(roberts(p.get(), &r.x, &r.y).ok());
        EXPECT_TRUE(gradient(p.get(), &g.x, &g.y).ok());
        for (uint64_t i = 0; i < w * h; ++i) {
            EXPECT_EQ(r.x.data[i], 0);
            EXPECT_EQ(r.y.data[i], 0);
            EXPECT_EQ(g.x.data[i], 0);
            EXPECT_EQ(g.y.data[i], 0);
        }
    }
}

TEST(GradientOperators, ExtremeValuesDoNotWrap) {
    TestPicture p(2, 2);
    p.at(0, 0) = 0;
    p.at(1, 1) = 255;
    p.at(1, 0) = 255;
    p.at(0, 1) = 0;
    Pair d(2, 2);
    EXPECT_TRUE(roberts(p.get(), &d.x, &d.y).ok());
    EXPECT_EQ(d.X(1, 1), -255);
    EXPECT_EQ(d.Y(1, 1), 255);
}

TEST(RobertsSkip, BothGridsAcrossAHorizontalBoundary) {
    TestPicture p(40, 40);
    p.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y < 16 ? 30 : 100); });
    Pair h(40, 40 / 16);
    EXPECT_TRUE(robertsSkip(p.get(), &h.x, &h.y, 1, 16).ok());
    for (uint64_t r = 0; r < 2; ++r)
        for (uint64_t c = 0; c < 40; ++c) {
            EXPECT_EQ(h.X(c, r), (r == 1 && c >= 1) ? -70 : 0);
            EXPECT_EQ(h.Y(c, r), (r == 1 && c >= 1) ? -70 : 0);
        }
    Pair v(40 / 16, 40);
    EXPECT_TRUE(robertsSkip(p.get(), &v.x, &v.y, 16, 1).ok());
    for (uint64_t r = 0; r < 40; ++r)
        for (uint64_t c = 0; c < 2; ++c) {
            EXPECT_EQ(v.X(c, r), (r == 16 && c >= 1) ? -70 : 0);
            EXPECT_EQ(v.Y(c, r), (r == 16 && c >= 1) ? -70 : 0);
        }
}

TEST(RobertsSkip, VerticalBoundaryAndEqualityWithRobertsAtStepOne) {
    TestPicture p(40, 20);
    p.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x < 16 ? 5 : 9); });
    Pair v(2, 20);
    EXPECT_TRUE(robertsSkip(p.get(), &v.x, &v.y, 16, 1).ok());
    for (uint64_t r = 0; r < 20; ++r) {
        EXPECT_EQ(v.X(1, r), r >= 1 ? -4 : 0);
        EXPECT_EQ(v.Y(1, r), r >= 1 ? 4 : 0);
        EXPECT_EQ(v.X(0, r), 0);
    }

    TestPicture q(37, 23);
    q.randomise(7);
    Pair a(37, 23), b(37, 23);
    EXPECT_TRUE(roberts(q.get(), &a.x, &a.y).ok());
    EXPECT_TRUE(robertsSkip(q.get(), &b.x, &b.y, 1, 1).ok());
    for (uint64_t i = 0; i < 37 * 23; ++i) {
        ASSERT_EQ(a.x.data[i], b.x.data[i]);
        ASSERT_EQ(a.y.data[i], b.y.data[i]);
    }
}

TEST(GradientOperators, WrongSizesAreRefusedWithNothingWritten) {
    TestPicture p(8, 8);
    p.randomise(5);
    Image32 good = callocImage32(8, 8);
    Image32 short1 = callocImage32(8, 7);
    Image32 tiny = callocImage32(3, 3);
    for (Image32* d : {&good, &short1, &tiny}) std::fill(d->data, d->data + d->w * d->h, 7);
    expectRefused(roberts(p.get(), &good, &short1), "roberts", "src->h == destY->h && src->w == destY->w");
    expectRefused(gradient(p.get(), &short1, &good), "gradient", "src->h == destX->h && src->w == destX->w");
    expectRefused(robertsSkip(p.get(), &tiny, &tiny, 4, 1), "robertsSkip",
                  "(destX->w - 1) * stepX < src->w && (destX->h - 1) * stepY < src->h");
    expectRefused(robertsSkip(p.get(), &tiny, &tiny, 0, 1), "robertsSkip", "stepX >= 1 && stepY >= 1");
    for (Image32* d : {&good, &short1, &tiny}) EXPECT_TRUE(holdsOnly(*d, 7));
    freeImage32(&good);
    freeImage32(&short1);
    freeImage32(&tiny);
}
