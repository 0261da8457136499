#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/pictures.hpp"
#include "support/refusals.hpp"
#include "support/toolkit.hpp"

using namespace lumaqc;

TEST(TypeConversions, LowEightBitsAndWidening) {
    int32_t values[6] = {255, 256, 300, -1, -256, 0};
    Image32 src = makeImage32(3, 2, values);
    uint8_t out[6] = {9, 9, 9, 9, 9, 9};
    Image dest = makeImage(3, 2, out);
    EXPECT_TRUE(convI32toU8(&src, &dest).ok());
    const uint8_t want[6] = {255, 0, 44, 255, 0, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], want[i]) << values[i];

    uint8_t bytes[4] = {0, 1, 128, 255};
    Image b = makeImage(2, 2, bytes);
    int32_t wide[4] = {-5, -5, -5, -5};
    Image32 w = makeImage32(2, 2, wide);
    EXPECT_TRUE(convU8toI32(&b, &w).ok());
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(wide[2], 128);
    EXPECT_EQ(wide[3], 255);  // widened as unsigned, not -1

    TestPicture p(16, 9);
    p.randomise(4);
    Image32 mid = callocImage32(16, 9);
    Image back = callocImage(16, 9);
    EXPECT_TRUE(convU8toI32(p.get(), &mid).ok());
    EXPECT_TRUE(convI32toU8(&mid, &back).ok());
    EXPECT_EQ(areEqual(p.get(), &back), 1);
    freeImage32(&mid);
    freeImage(&back);
}

TEST(TypeConversions, OnlyPixelCountsMustAgree) {
    // 4 x 2 into 8 x 1: flat copy in index order.
    TestPicture p(4, 2);
    p.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(10 * y + x); });
    int32_t flat[8];
    Image32 d = makeImage32(8, 1, flat);
    EXPECT_TRUE(convU8toI32(p.get(), &d).ok());
    const int32_t want[8] = {0, 1, 2, 3, 10, 11, 12, 13};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(flat[i], want[i]);

    // 0 x 5 and 3 x 0 both count no pixel: no assertion and nothing written.
    uint8_t s8[1] = {7};
    int32_t s32[1] = {7};
    double sd[1] = {7.0};
    Image e8 = makeImage(0, 5, s8), z8 = makeImage(3, 0, s8);
    Image32 e32 = makeImage32(0, 5, s32), z32 = makeImage32(3, 0, s32);
    ImageDouble ed = makeImageDouble(0, 5, sd), zd = makeImageDouble(3, 0, sd);
    EXPECT_TRUE(convU8toI32(&e8, &z32).ok());
    EXPECT_TRUE(convI32toU8(&e32, &z8).ok());
    EXPECT_TRUE(imageSqrt(&ed, &zd).ok());
    EXPECT_EQ(s8[0], 7);
    EXPECT_EQ(s32[0], 7);
    EXPECT_EQ(sd[0], 7.0);
}

TEST(TypeConversions, SquareRoots) {
    const double inf = std::numeric_limits<double>::infinity();
    double in[6] = {4.0, 2.25, 0.0, -1.0, inf, -0.0};
    double out[6] = {};
    ImageDouble s = makeImageDouble(2, 3, in), d = makeImageDouble(3, 2, out);
    EXPECT_TRUE(imageSqrt(&s, &d).ok());
    EXPECT_EQ(out[0], 2.0);
    EXPECT_EQ(out[1], 1.5);
    EXPECT_EQ(out[2], 0.0);
    EXPECT_TRUE(std::isnan(out[3]));
    EXPECT_EQ(out[4], inf);
    EXPECT_EQ(bitsOf(out[5]), bitsOf(-0.0));

    // In place is fine: every pixel is read before it is written.
    EXPECT_TRUE(imageSqrt(&d, &d).ok());
    EXPECT_EQ(out[0], std::sqrt(2.0));
}

TEST(TypeConversions, DifferentPixelCountsAreRefusedWithNothingWritten) {
    uint8_t b[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    int32_t i[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    double f[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    Image b8 = makeImage(4, 2, b);
    Image32 i7 = makeImage32(7, 1, i);
    Image b7 = makeImage(1, 7, b);
    Image32 i8 = makeImage32(2, 4, i);
    ImageDouble f8 = makeImageDouble(8, 1, f), f6 = makeImageDouble(3, 2, f);
    const char* condition = "src->w * src->h == dest->w *dest->h";
    expectRefused(convU8toI32(&b8, &i7), "convU8toI32", condition);
    expectRefused(convI32toU8(&i8, &b7), "convI32toU8", condition);
    expectRefused(imageSqrt(&f8, &f6), "imageSqrt", condition);
    EXPECT_TRUE(holdsOnly(b8, 7) && holdsOnly(i8, 7) && holdsOnly(f8, 7.0));
}
