#include <gtest/gtest.h>

#include <vector>

#include "support/pictures.hpp"
#include "support/toolkit.hpp"

using namespace lumaqc;

namespace {
struct Owned32 {
    Image32 img;
    Owned32(uint64_t w, uint64_t h, int32_t stale = 0) : img(allocImage32(w, h)) {
        for (uint64_t i = 0; i < w * h; ++i) img.data[i] = stale;
    }
    ~Owned32() { freeImage32(&img); }
    int32_t at(uint64_t x, uint64_t y) const { return img.data[y * img.w + x]; }
};

int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
}  // namespace

TEST(Integrate, SmallExampleAndPrefixSumsOfRandomPicture) {
    uint8_t px[6] = {1, 2, 3, 4, 5, 6};
    Image p = makeImage(3, 2, px);
    Owned32 I(3, 2, -7);
    integrate(&p, &I.img);
    const int32_t want[6] = {1, 3, 6, 5, 12, 21};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(I.img.data[i], want[i]) << i;

    TestPicture q(13, 7);
    q.randomise(3);
    Owned32 J(13, 7, 99);
    integrate(q.get(), &J.img);
    for (uint64_t y = 0; y < 7; ++y)
        for (uint64_t x = 0; x < 13; ++x) {
            int32_t s = 0;
            for (uint64_t yy = 0; yy <= y; ++yy)
                for (uint64_t xx = 0; xx <= x; ++xx) s += q.at(xx, yy);
            ASSERT_EQ(J.at(x, y), s) << x << "," << y;
        }

    // One row, and an empty picture that writes nothing.
    TestPicture row(4, 1);
    row.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(10 * (x + 1)); });
    Owned32 R(4, 1);
    integrate(row.get(), &R.img);
    EXPECT_EQ(R.at(3, 0), 100);
    int32_t sentinel[1] = {42};
    Image32 none = makeImage32(1, 1, sentinel);
    TestPicture noRows(5, 0, 9), noCols(0, 5, 9);
    integrate(noRows.get(), &none);
    integrate(noCols.get(), &none);
    EXPECT_EQ(sentinel[0], 42);
}

TEST(BlockSumsInteg, MatchesDirectBlockSumsAndReproducesPicture) {
    struct Case {
        uint64_t w, h, bw, bh;
    };
    const Case cases[] = {{17, 9, 8, 8}, {40, 33, 4, 4}, {37, 23, 5, 3}, {16, 16, 16, 16}, {31, 12, 1, 6}};
    uint32_t seed = 11;
    for (const Case& c : cases) {
        TestPicture p(c.w, c.h);
        p.randomise(seed++);
        Owned32 I(c.w, c.h);
        integrate(p.get(), &I.img);
        const uint64_t gw = c.w / c.bw, gh = c.h / c.bh;
        Owned32 direct(gw, gh, 0), fromIntegral(gw, gh, 12345);
        blockSums(p.get(), &direct.img, c.bw, c.bh);
        blockSumsInteg(&I.img, &fromIntegral.img, c.bw, c.bh);
        for (uint64_t i = 0; i < gw * gh; ++i)
            ASSERT_EQ(fromIntegral.img.data[i], direct.img.data[i]) << c.w << "x" << c.h << " block " << i;
    }

    TestPicture p(9, 6);
    p.randomise(5);
    Owned32 I(9, 6), back(9, 6, -1);
    integrate(p.get(), &I.img);
    blockSumsInteg(&I.img, &back.img, 1, 1);
    for (uint64_t y = 0; y < 6; ++y)
        for (uint64_t x = 0; x < 9; ++x) EXPECT_EQ(back.at(x, y), p.at(x, y));
}

TEST(BlockSumsInteg2, CornerFormulaOverBytes) {
    uint8_t rising[3] = {10, 30, 60};
    Image a = makeImage(3, 1, rising);
    Owned32 d(3, 1, 7);
    blockSumsInteg2(&a, &d.img, 1, 1);
    EXPECT_EQ(d.at(0, 0), 10);
    EXPECT_EQ(d.at(1, 0), 20);
    EXPECT_EQ(d.at(2, 0), 30);

    uint8_t falling[3] = {60, 30, 10};
    Image b = makeImage(3, 1, falling);
    blockSumsInteg2(&b, &d.img, 1, 1);
    EXPECT_EQ(d.at(0, 0), 60);
    EXPECT_EQ(d.at(1, 0), -30);
    EXPECT_EQ(d.at(2, 0), -20);

    // Second block row and column: the four-corner form, values read as unsigned.
    uint8_t corners[4] = {200, 10, 255, 0};
    Image c = makeImage(2, 2, corners);
    Owned32 e(2, 2);
    blockSumsInteg2(&c, &e.img, 1, 1);
    EXPECT_EQ(e.at(0, 1), 255 - 200);
    EXPECT_EQ(e.at(1, 1), 0 - 255 - 10 + 200);
}

TEST(DirectionalSums, SizesAndOrder) {
    uint8_t white[4] = {255, 255, 255, 255};
    EXPECT_EQ(sumH(white, 2, 2), 1020);
    EXPECT_EQ(sumV(white, 2, 2), 1020);
    for (auto [w, h] : {std::pair<int32_t, int32_t>{0, 2}, {2, 0}, {-2, 2}, {2, -2}}) {
        EXPECT_EQ(sumH(white, w, h), 0) << w << "x" << h;
        EXPECT_EQ(sumV(white, w, h), 0) << w << "x" << h;
    }
    // A positive product of two negative sizes still counts for sumH; sumV
    // needs a positive width.
    uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(sumH(six, -2, -3), 21);
    EXPECT_EQ(sumV(six, -2, -3), 0);

    TestPicture p(23, 7);
    p.randomise(9);
    int32_t expected = 0;
    for (uint64_t i = 0; i < 23 * 7; ++i) expected += p.pixels[i];
    EXPECT_EQ(sumH(p.pixels.data(), 23, 7), expected);
    EXPECT_EQ(sumV(p.pixels.data(), 23, 7), expected);
    // sumV only reads the first h rows: a shorter height leaves out the rest.
    int32_t firstTwoRows = 0;
    for (uint64_t i = 0; i < 23 * 2; ++i) firstTwoRows += p.pixels[i];
    EXPECT_EQ(sumV(p.pixels.data(), 23, 2), firstTwoRows);
}

TEST(OnlyCopy, CopiesIntoTheStartOfTheBuffer) {
    TestPicture p(5, 3);
    p.randomise(2);
    std::vector<uint8_t> out(16, 0xAB);
    Image d = makeImage(15, 1, out.data());  // its shape plays no part
    onlyCopy(p.get(), &d);
    for (uint64_t i = 0; i < 15; ++i) EXPECT_EQ(out[i], p.pixels[i]);
    EXPECT_EQ(out[15], 0xAB);
    TestPicture empty(0, 3);
    onlyCopy(empty.get(), &d);
    EXPECT_EQ(out[0], p.pixels[0]);
}

// More than 8,421,504 bright pixels: the 32-bit sums wrap, and block sums read
// from the wrapped integral image are still exact.
TEST(IntegralImages, ThirtyTwoBitWrapAroundOnALargeBrightPicture) {
    const uint64_t w = 4200, h = 2200;
    TestPicture p(w, h);
    std::mt19937 gen(21);
    for (uint64_t i = 0; i < w * h; ++i) p.pixels[i] = static_cast<uint8_t>(230 + gen() % 26);
    int64_t total = 0;
    for (uint64_t i = 0; i < w * h; ++i) total += p.pixels[i];
    ASSERT_GT(total, int64_t{INT32_MAX});

    EXPECT_EQ(sumH(p.pixels.data(), static_cast<int32_t>(w), static_cast<int32_t>(h)), wrap32(total));
    EXPECT_EQ(sumV(p.pixels.data(), static_cast<int32_t>(w), static_cast<int32_t>(h)), wrap32(total));

    Owned32 I(w, h);
    integrate(p.get(), &I.img);
    std::vector<int64_t> columnSums(w, 0);
    uint64_t mismatches = 0;
    for (uint64_t y = 0; y < h; ++y) {
        int64_t prefix = 0;
        for (uint64_t x = 0; x < w; ++x) {
            columnSums[x] += p.at(x, y);
            prefix += columnSums[x];
            if (I.at(x, y) != wrap32(prefix)) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(I.at(w - 1, h - 1), wrap32(total));

    // Two blocks of 2100 x 2200: each sum fits 31 bits although the corner
    // value of the whole picture wrapped.
    Owned32 blocks(2, 1, -1);
    blockSumsInteg(&I.img, &blocks.img, 2100, 2200);
    int64_t left = 0;
    for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < 2100; ++x) left += p.at(x, y);
    EXPECT_EQ(blocks.at(0, 0), left);
    EXPECT_EQ(blocks.at(1, 0), total - left);
}
