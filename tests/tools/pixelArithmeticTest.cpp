#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "support/pictures.hpp"
#include "support/refusals.hpp"
#include "support/toolkit.hpp"
#include "tools/pixelwise.hpp"

using namespace lumaqc;

namespace {
// Pictures over vectors sized exactly, so that a stray access shows in the sanitizer build.
template <typename T, typename Picture>
struct Owned {
    std::vector<T> v;
    Picture p;
    Owned(uint64_t w, uint64_t h, std::vector<T> values) : v(std::move(values)), p{w, h, v.data()} {}
};
using Pic8 = Owned<uint8_t, Image>;
using Pic32 = Owned<int32_t, Image32>;
using PicD = Owned<double, ImageDouble>;
}  // namespace

TEST(AddSquares, EightBitSquaresNeverOverflow) {
    Pic8 a(3, 1, {255, 3, 0});
    Pic8 b(3, 1, {255, 4, 0});
    Pic32 d(3, 1, {-1, -1, -1});
    EXPECT_TRUE(addSquares(&a.p, &b.p, &d.p).ok());
    EXPECT_EQ(d.v, (std::vector<int32_t>{130050, 25, 0}));
}

TEST(AddSquares32, WrapsInThirtyTwoBitsAndWorksInPlace) {
    Pic32 a(2, 2, {-255, 46341, 3, -7});
    Pic32 b(2, 2, {255, 0, 4, 0});
    Pic32 d(2, 2, {9, 9, 9, 9});
    EXPECT_TRUE(addSquares32(&a.p, &b.p, &d.p).ok());
    // 46341^2 = 2147488281 = 2^31 + 4633, which reads as -2^31 + 4633 in 32 bits.
    EXPECT_EQ(d.v, (std::vector<int32_t>{130050, -2147479015, 25, 49}));

    // In place: every element becomes its own square plus the square of its partner.
    EXPECT_TRUE(addSquares32(&a.p, &b.p, &a.p).ok());
    EXPECT_EQ(a.v, (std::vector<int32_t>{130050, -2147479015, 25, 49}));
}

TEST(Multiply, WrapsInThirtyTwoBits) {
    Pic32 a(4, 1, {65536, -3, 2147483647, 0});
    Pic32 b(4, 1, {65536, 7, 2, 123});
    Pic32 d(4, 1, {1, 1, 1, 1});
    EXPECT_TRUE(multiply(&a.p, &b.p, &d.p).ok());
    EXPECT_EQ(d.v, (std::vector<int32_t>{0, -21, -2, 0}));
    EXPECT_TRUE(multiply(&a.p, &b.p, &b.p).ok());  // the destination may be the second source
    EXPECT_EQ(b.v, (std::vector<int32_t>{0, -21, -2, 0}));
}

TEST(Divide, IeeeQuotientsOfConvertedIntegers) {
    Pic32 a(5, 1, {1, -1, 0, 7, -2147483647 - 1});
    Pic32 b(5, 1, {0, 0, 0, 2, -1});
    PicD d(5, 1, std::vector<double>(5, 42.0));
    EXPECT_TRUE(divide(&a.p, &b.p, &d.p).ok());
    EXPECT_EQ(d.v[0], std::numeric_limits<double>::infinity());
    EXPECT_EQ(d.v[1], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(d.v[2]));
    EXPECT_EQ(d.v[3], 3.5);  // not the integer quotient 3
    EXPECT_EQ(d.v[4], 2147483648.0);
}

TEST(DivideDouble, SignedZeroAndInPlace) {
    PicD a(3, 1, {1.0, 1.0, 0.0});
    PicD b(3, 1, {-0.0, 4.0, 0.0});
    PicD d(3, 1, std::vector<double>(3, 0.0));
    EXPECT_TRUE(divideDouble(&a.p, &b.p, &d.p).ok());
    EXPECT_EQ(d.v[0], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(d.v[1], 0.25);
    EXPECT_TRUE(std::isnan(d.v[2]));
    EXPECT_TRUE(divideDouble(&a.p, &b.p, &a.p).ok());
    EXPECT_EQ(a.v[1], 0.25);
}

TEST(PixelArithmetic, EmptyFirstSourceLeavesTheDestinationAlone) {
    Image e8 = makeImage(0, 5, nullptr);
    Image32 e32 = makeImage32(0, 5, nullptr);
    ImageDouble eD = makeImageDouble(5, 0, nullptr);
    Pic8 s8(2, 1, {1, 2});
    Pic32 s32(2, 1, {1, 2});
    PicD sD(2, 1, {1.0, 2.0});
    Pic32 d32(2, 1, {77, 78});
    PicD dD(2, 1, {7.5, 8.5});
    EXPECT_TRUE(addSquares(&e8, &s8.p, &d32.p).ok());
    EXPECT_TRUE(addSquares32(&e32, &s32.p, &d32.p).ok());
    EXPECT_TRUE(multiply(&e32, &s32.p, &d32.p).ok());
    EXPECT_TRUE(divide(&e32, &s32.p, &dD.p).ok());
    EXPECT_TRUE(divideDouble(&eD, &sD.p, &dD.p).ok());
    EXPECT_EQ(d32.v, (std::vector<int32_t>{77, 78}));
    EXPECT_EQ(dD.v, (std::vector<double>{7.5, 8.5}));
    // Only the first source's size counts: a longer destination keeps its tail.
    Pic32 one(1, 1, {5});
    EXPECT_TRUE(multiply(&one.p, &one.p, &d32.p).ok());
    EXPECT_EQ(d32.v, (std::vector<int32_t>{25, 78}));
}

TEST(CompareShifted, UniformMixedAndNeverEqualPictures) {
    TestPicture uniform(20, 20, 9);
    std::vector<uint8_t> out(20 * 4, 7);
    Image dest = makeImage(20, 4, out.data());
    EXPECT_TRUE(compareShifted(uniform.get(), &dest, 16 * 20).ok());
    for (uint8_t v : out) EXPECT_EQ(v, 1);

    // No pixel equals the one 16 rows below it.
    TestPicture ramp(20, 20);
    ramp.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x + 37 * y); });
    EXPECT_TRUE(compareShifted(ramp.get(), &dest, 16 * 20).ok());
    for (uint8_t v : out) EXPECT_EQ(v, 0);

    // Horizontal partners: a picture whose columns repeat every 16 except where it was touched.
    TestPicture cols(20, 3);
    cols.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x % 16 + 50 * y); });
    cols.at(2, 1) = 200;
    cols.at(19, 2) = 201;  // partner of (3, 2)
    std::vector<uint8_t> hout(4 * 3, 9);
    Image hdest = makeImage(4, 3, hout.data());
    EXPECT_TRUE(compareShifted(cols.get(), &hdest, 16).ok());
    for (uint64_t y = 0; y < 3; ++y)
        for (uint64_t x = 0; x < 4; ++x) {
            const bool changed = (x == 2 && y == 1) || (x == 3 && y == 2);
            EXPECT_EQ(hout[y * 4 + x], changed ? 0 : 1) << x << "," << y;
        }
}

TEST(PixelArithmetic, WrongSizesAreRefusedWithNothingWritten) {
    Pic32 big(3, 2, std::vector<int32_t>(6, 1));
    Pic32 small(5, 1, std::vector<int32_t>(5, 7));
    expectRefused(addSquares32(&big.p, &big.p, &small.p), "addSquares32", "dest->w * dest->h >= n");
    expectRefused(multiply(&big.p, &small.p, &big.p), "multiply", "src2->w * src2->h >= n");
    PicD d(5, 1, std::vector<double>(5, 7.0));
    expectRefused(divide(&big.p, &big.p, &d.p), "divide", "dest->w * dest->h >= n");
    EXPECT_TRUE(holdsOnly(big.p, 1));
    EXPECT_TRUE(holdsOnly(small.p, 7));
    EXPECT_TRUE(holdsOnly(d.p, 7.0));

    TestPicture src(20, 20);
    std::vector<uint8_t> out(20 * 5, 7);
    Image tooTall = makeImage(20, 5, out.data());
    expectRefused(compareShifted(src.get(), &tooTall, 16 * 20), "compareShifted",
                  "(dest->h - 1) * src->w + dest->w - 1 + shift < src->w * src->h");
    Image row = makeImage(4, 1, out.data());
    expectRefused(compareShifted(src.get(), &row, -1), "compareShifted", "shift >= 0");
    EXPECT_TRUE(holdsOnly(tooTall, 7));
}
