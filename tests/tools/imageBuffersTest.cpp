#include <gtest/gtest.h>

#include "support/pictures.hpp"
#include "support/toolkit.hpp"
#include "tools/pictures.hpp"

using namespace lumaqc;

TEST(Constructors, CallocFillsWithZerosAndMakeWrapsWithoutCopying) {
    Image32 z = callocImage32(3, 2);
    ASSERT_NE(z.data, nullptr);
    EXPECT_EQ(z.w, 3u);
    EXPECT_EQ(z.h, 2u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(z.data[i], 0);
    freeImage32(&z);

    ImageDouble d = callocImageDouble(4, 4);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(d.data[i], 0.0);
    freeImageDouble(&d);

    uint8_t buffer[4] = {1, 2, 3, 4};
    Image wrapped = makeImage(2, 2, buffer);
    EXPECT_EQ(wrapped.data, buffer);

    Image32 raw = allocImage32(3, 2);
    ASSERT_NE(raw.data, nullptr);
    raw.data[5] = 7;  // the whole buffer is usable
    freeImage32(&raw);

    Image none{0, 0, nullptr};
    freeImage(&none);  // a null buffer is fine
}

TEST(Constructors, AbsurdSizesLeaveDataNull) {
    Image huge = callocImage(UINT64_MAX / 2, 4);
    EXPECT_EQ(huge.data, nullptr);
    Image32 huge32 = allocImage32(1ull << 62, 1);
    EXPECT_EQ(huge32.data, nullptr);
}

TEST(Reductions, EmptyPicturesSumToZero) {
    TestPicture p(0, 5, 9);
    EXPECT_EQ(sumPixels(p.get()), 0u);
    int32_t buf[1] = {5};
    Image32 p32{5, 0, buf};
    EXPECT_EQ(sumPixels32(&p32), 0);
    int32_t s = -1;
    int64_t q = -1;
    EXPECT_EQ(sumAndSquareSum(p.get(), &s, &q), 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(q, 0);
}

TEST(Reductions, SumsOfSmallPictures) {
    uint8_t px[4] = {1, 2, 3, 4};
    Image p = makeImage(2, 2, px);
    int32_t s = 0;
    int64_t q = 0;
    EXPECT_EQ(sumAndSquareSum(&p, &s, &q), 10);
    EXPECT_EQ(s, 10);
    EXPECT_EQ(q, 30);
    EXPECT_EQ(sumPixels(&p), 10u);

    int32_t v[3] = {-5, 2147483647, 10};
    Image32 p32 = makeImage32(3, 1, v);
    EXPECT_EQ(sumPixels32(&p32), 2147483652LL);  // 64-bit accumulator does not wrap
}

TEST(Reductions, SumPixelsWrapsModulo2To32) {
    // 16,843,010 pixels of 255 sum to just beyond 2^32.
    const uint64_t n = 16843010;
    std::vector<uint8_t> px(n, 255);
    Image p = makeImage(n, 1, px.data());
    const uint64_t exact = n * 255;
    EXPECT_EQ(sumPixels(&p), static_cast<uint32_t>(exact % (1ull << 32)));
}

TEST(BlockSums, OnlyWholeBlocksOfTheGridAreReadAndValuesAccumulate) {
    TestPicture p(17, 9);
    p.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x + 10 * y); });
    // Column 16 and row 8 hold large values that must never be read.
    for (uint64_t y = 0; y < 9; ++y) p.at(16, y) = 255;
    for (uint64_t x = 0; x < 17; ++x) p.at(x, 8) = 255;
    Image32 d = callocImage32(2, 1);
    blockSums(p.get(), &d, 8, 8);
    int32_t left = 0, right = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            left += x + 10 * y;
            right += x + 8 + 10 * y;
        }
    EXPECT_EQ(d.data[0], left);
    EXPECT_EQ(d.data[1], right);
    blockSums(p.get(), &d, 8, 8);
    EXPECT_EQ(d.data[0], 2 * left);
    EXPECT_EQ(d.data[1], 2 * right);
    freeImage32(&d);
}

TEST(AreEqual, SizeBufferAndPixelRules) {
    uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Image wide = makeImage(4, 2, a);
    Image tall = makeImage(2, 4, b);
    EXPECT_EQ(areEqual(&wide, &tall), 0);  // same bytes, other shape
    Image wide2 = makeImage(4, 2, b);
    EXPECT_EQ(areEqual(&wide, &wide2), 1);
    b[7] = 9;
    EXPECT_EQ(areEqual(&wide, &wide2), 0);
    Image e1 = makeImage(0, 3, a), e2 = makeImage(0, 3, b);
    EXPECT_EQ(areEqual(&e1, &e2), 1);
    EXPECT_EQ(areEqual(&wide, &wide), 1);
}

TEST(PrintRange, ValuesComeFromTheStartOfTheBufferWhateverTheRowNumbers) {
    uint8_t px[20];
    for (int i = 0; i < 20; ++i) px[i] = static_cast<uint8_t>(i + 1);
    Image p = makeImage(10, 2, px);
    testing::internal::CaptureStdout();
    printRange(&p, 0, 2, 5, 6);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "001 002 003 \n004 005 006 \n");

    testing::internal::CaptureStdout();
    printRange(&p, 3, 1, 0, 1);  // columns reversed: one empty line per row
    printRange(&p, 0, 1, 2, 1);  // rows reversed: nothing
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\n");

    int32_t v[3] = {-1, 20, 300};
    Image32 p32 = makeImage32(3, 1, v);
    testing::internal::CaptureStdout();
    printRange32(&p32, 0, 2, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-1  20  300  \n");
}
