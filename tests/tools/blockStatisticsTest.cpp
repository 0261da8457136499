#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/pictures.hpp"
#include "support/refusals.hpp"
#include "support/toolkit.hpp"
#include "tools/blockStatistics.hpp"

using namespace lumaqc;

namespace {
// Zero-filled sums, square sums and deviations for a C x R grid.
struct IntStats {
    Image32 sums, squares;
    ImageDouble dev;
    IntStats(uint64_t C, uint64_t R)
        : sums(callocImage32(C, R)), squares(callocImage32(C, R)), dev(callocImageDouble(C, R)) {}
    ~IntStats() {
        freeImage32(&sums);
        freeImage32(&squares);
        freeImageDouble(&dev);
    }
};

struct DoubleStats {
    ImageDouble sums, squares, dev;
    DoubleStats(uint64_t C, uint64_t R)
        : sums(callocImageDouble(C, R)), squares(callocImageDouble(C, R)), dev(callocImageDouble(C, R)) {}
    ~DoubleStats() {
        freeImageDouble(&sums);
        freeImageDouble(&squares);
        freeImageDouble(&dev);
    }
};

struct Kernel {
    ImageDouble k;
    Kernel(uint64_t w, uint64_t h, double value) : k(callocImageDouble(w, h)) {
        for (uint64_t i = 0; i < w * h; ++i) k.data[i] = value;
    }
    ~Kernel() { freeImageDouble(&k); }
};

// Sample deviation from the mean, the textbook two-pass way.
double twoPassDeviation(const std::vector<double>& v) {
    double mean = 0.0;
    for (double x : v) mean += x;
    mean /= static_cast<double>(v.size());
    double ss = 0.0;
    for (double x : v) ss += (x - mean) * (x - mean);
    return std::sqrt(ss / static_cast<double>(v.size() - 1));
}
}  // namespace

TEST(CalculateStdDevs, UniformBlocksHaveZeroDeviation) {
    // 3 x 2 blocks of 16 x 16, each of one grey level, white included.
    const uint8_t level[6] = {0, 255, 17, 128, 255, 1};
    TestPicture p(48, 32);
    p.fill([&](uint64_t x, uint64_t y) { return level[(y / 16) * 3 + x / 16]; });
    IntStats s(3, 2);
    EXPECT_TRUE(calculateStdDevs(p.get(), &s.sums, &s.squares, &s.dev, 16, 16).ok());
    for (int b = 0; b < 6; ++b) {
        EXPECT_EQ(s.sums.data[b], 256 * level[b]);
        EXPECT_EQ(s.squares.data[b], 256 * level[b] * level[b]);
        EXPECT_EQ(s.dev.data[b], 0.0) << b;
    }
}

TEST(CalculateStdDevs, HalfBlackHalfWhiteBlockAndUnreadPixels) {
    TestPicture p(8, 8);
    p.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>((x + y) % 2 ? 255 : 0); });
    IntStats s(1, 1);
    EXPECT_TRUE(calculateStdDevs(p.get(), &s.sums, &s.squares, &s.dev, 8, 8).ok());
    EXPECT_EQ(s.sums.data[0], 8160);
    EXPECT_EQ(s.squares.data[0], 2080800);
    EXPECT_EQ(s.dev.data[0], std::sqrt(1040400.0 / 63.0));
    EXPECT_NEAR(s.dev.data[0], 128.51, 0.005);

    // 20 x 20 picture, one 16 x 16 block: the four extra columns and rows are never read.
    TestPicture q(20, 20, 250);
    q.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x < 16 && y < 16 ? (x * 3 + y) % 7 : 250); });
    uint64_t sum = 0, squares = 0;
    std::vector<double> values;
    for (uint64_t y = 0; y < 16; ++y)
        for (uint64_t x = 0; x < 16; ++x) {
            sum += q.at(x, y);
            squares += q.at(x, y) * q.at(x, y);
            values.push_back(q.at(x, y));
        }
    IntStats t(1, 1);
    EXPECT_TRUE(calculateStdDevs(q.get(), &t.sums, &t.squares, &t.dev, 16, 16).ok());
    EXPECT_EQ(static_cast<uint64_t>(t.sums.data[0]), sum);
    EXPECT_EQ(static_cast<uint64_t>(t.squares.data[0]), squares);
    EXPECT_NEAR(t.dev.data[0], twoPassDeviation(values), 1e-12);
}

TEST(CalculateStdDevs, RandomGridMatchesPlainSumsAndAccumulates) {
    // 37 x 29 pixels, 8 x 8 blocks: a 4 x 3 grid, five columns and five rows left over.
    TestPicture p(37, 29);
    p.randomise(11);
    IntStats s(4, 3);
    EXPECT_TRUE(calculateStdDevs(p.get(), &s.sums, &s.squares, &s.dev, 8, 8).ok());
    for (uint64_t by = 0; by < 3; ++by)
        for (uint64_t bx = 0; bx < 4; ++bx) {
            int64_t sum = 0, squares = 0;
            std::vector<double> values;
            for (uint64_t y = by * 8; y < by * 8 + 8; ++y)
                for (uint64_t x = bx * 8; x < bx * 8 + 8; ++x) {
                    sum += p.at(x, y);
                    squares += p.at(x, y) * p.at(x, y);
                    values.push_back(p.at(x, y));
                }
            const uint64_t b = by * 4 + bx;
            EXPECT_EQ(s.sums.data[b], sum);
            EXPECT_EQ(s.squares.data[b], squares);
            EXPECT_NEAR(s.dev.data[b], twoPassDeviation(values), 1e-9);
        }

    // A second call adds onto the caller's sums; the deviation follows the
    // doubled values as if they were one block's (mostly not a number then).
    std::vector<int32_t> firstSums(s.sums.data, s.sums.data + 12), firstSquares(s.squares.data, s.squares.data + 12);
    EXPECT_TRUE(calculateStdDevs(p.get(), &s.sums, &s.squares, &s.dev, 8, 8).ok());
    for (int b = 0; b < 12; ++b) {
        EXPECT_EQ(s.sums.data[b], 2 * firstSums[b]);
        EXPECT_EQ(s.squares.data[b], 2 * firstSquares[b]);
        const double S = 2.0 * firstSums[b], Q = 2.0 * firstSquares[b];
        EXPECT_EQ(bitsOf(s.dev.data[b]), bitsOf(std::sqrt((Q - S * S / 64.0) / 63.0)));
    }
}

TEST(Filter, WritesOnlyInnerPixelsOfEachBlock) {
    // Two 8 x 8 blocks along the top of a 24 x 10 picture; the third block and
    // the two lower rows are outside the strip.
    TestPicture p(24, 10);
    p.randomise(5);
    ImageDouble dest = callocImageDouble(24, 10);
    for (int i = 0; i < 240; ++i) dest.data[i] = -7.0;
    // An asymmetric kernel: a mirrored (convolution) window would give other sums.
    ImageDouble kernel = callocImageDouble(3, 3);
    for (int i = 0; i < 9; ++i) kernel.data[i] = i + 1;
    ASSERT_EQ(filter(p.get(), &dest, &kernel, 2, 8, 8), 0);
    int written = 0;
    for (uint64_t y = 0; y < 10; ++y)
        for (uint64_t x = 0; x < 24; ++x) {
            const bool inner = x < 16 && y < 8 && x % 8 >= 1 && x % 8 <= 6 && y >= 1 && y <= 6;
            double want = -7.0;
            if (inner) {
                want = 0.0;
                for (int i = 0; i < 3; ++i)
                    for (int j = 0; j < 3; ++j) want += kernel.data[i * 3 + j] * p.at(x - 1 + j, y - 1 + i);
                ++written;
            }
            EXPECT_EQ(dest.data[y * 24 + x], want) << x << "," << y;
        }
    EXPECT_EQ(written, 72);  // 36 per block, 28 border pixels untouched in each

    // A 3 x 3 kernel of ones on a uniform block gives 9 v inside, nothing on the border.
    TestPicture u(8, 8, 31);
    ImageDouble ones = callocImageDouble(3, 3);
    for (int i = 0; i < 9; ++i) ones.data[i] = 1.0;
    ImageDouble out = callocImageDouble(8, 8);
    ASSERT_EQ(filter(u.get(), &out, &ones, 1, 8, 8), 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(out.data[y * 8 + x], (x >= 1 && x <= 6 && y >= 1 && y <= 6) ? 279.0 : 0.0);
    freeImageDouble(&dest);
    freeImageDouble(&kernel);
    freeImageDouble(&ones);
    freeImageDouble(&out);
}

TEST(Filter, NoBlocksAndSizeFailures) {
    TestPicture p(16, 8, 9);
    Kernel k3(3, 3, 1.0);
    ImageDouble dest = callocImageDouble(16, 8);
    testing::internal::CaptureStdout();
    EXPECT_EQ(filter(p.get(), &dest, &k3.k, 0, 8, 8), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (int i = 0; i < 128; ++i) EXPECT_EQ(dest.data[i], 0.0);

    Kernel tall(3, 9, 1.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(filter(p.get(), &dest, &tall.k, 2, 8, 8), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Source image is to small for that kernel!\n");

    // The size mismatch is reported first, even when the kernel is too tall as well.
    ImageDouble narrow = callocImageDouble(15, 8);
    testing::internal::CaptureStdout();
    EXPECT_EQ(filter(p.get(), &narrow, &tall.k, 2, 8, 8), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Source and destination images do not match with their size!\n");
    ImageDouble lower = callocImageDouble(16, 7);
    testing::internal::CaptureStdout();
    EXPECT_EQ(filter(p.get(), &lower, &k3.k, 2, 8, 8), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Source and destination images do not match with their size!\n");
    for (int i = 0; i < 128; ++i) EXPECT_EQ(dest.data[i], 0.0);
    for (int i = 0; i < 15 * 8; ++i) EXPECT_EQ(narrow.data[i], 0.0);
    freeImageDouble(&dest);
    freeImageDouble(&narrow);
    freeImageDouble(&lower);
}

TEST(CalculateStdDevsDoubleOmmitZeros, InnerPixelsOnlyWithDivisor35) {
    // One 8 x 8 block whose border holds large values that must be left out;
    // inside, 18 pixels of 1 and 18 of 3: S = 72, Q = 180, n = 36.
    ImageDouble src = callocImageDouble(8, 8);
    int inner = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool isInner = x >= 1 && x <= 6 && y >= 1 && y <= 6;
            src.data[y * 8 + x] = isInner ? ((inner++ % 2) ? 3.0 : 1.0) : 1000.0 + x * y;
        }
    Kernel k3(3, 3, 0.5);
    DoubleStats s(1, 1);
    EXPECT_TRUE(calculateStdDevsDouble_ommitZeros(&src, &s.sums, &s.squares, &s.dev, &k3.k, 8, 8).ok());
    EXPECT_EQ(s.sums.data[0], 72.0);
    EXPECT_EQ(s.squares.data[0], 180.0);
    EXPECT_EQ(s.dev.data[0], std::sqrt(36.0 / 35.0));

    // A 3 x 2 grid of random blocks in a wider and taller picture.
    ImageDouble big = callocImageDouble(27, 19);
    std::mt19937 gen(3);
    for (int i = 0; i < 27 * 19; ++i) big.data[i] = static_cast<double>(gen() % 512) - 256.0;
    DoubleStats g(3, 2);
    EXPECT_TRUE(calculateStdDevsDouble_ommitZeros(&big, &g.sums, &g.squares, &g.dev, &k3.k, 8, 8).ok());
    for (int by = 0; by < 2; ++by)
        for (int bx = 0; bx < 3; ++bx) {
            std::vector<double> values;
            double sum = 0.0;
            for (int y = by * 8 + 1; y < by * 8 + 7; ++y)
                for (int x = bx * 8 + 1; x < bx * 8 + 7; ++x) {
                    values.push_back(big.data[y * 27 + x]);
                    sum += big.data[y * 27 + x];
                }
            ASSERT_EQ(values.size(), 36u);
            EXPECT_EQ(g.sums.data[by * 3 + bx], sum);
            EXPECT_NEAR(g.dev.data[by * 3 + bx], twoPassDeviation(values), 1e-9);
        }

    // A kernel that is not square: a message without newline, outputs untouched.
    Kernel k35(3, 5, 1.0);
    DoubleStats z(1, 1);
    z.dev.data[0] = -1.0;
    testing::internal::CaptureStdout();
    const SizeCheck refused = calculateStdDevsDouble_ommitZeros(&src, &z.sums, &z.squares, &z.dev, &k35.k, 8, 8);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Provided kernel is not symmetric!");
    expectRefused(refused, "calculateStdDevsDouble_ommitZeros", "kernel->w == kernel->h");
    EXPECT_EQ(z.sums.data[0], 0.0);
    EXPECT_EQ(z.squares.data[0], 0.0);
    EXPECT_EQ(z.dev.data[0], -1.0);
    freeImageDouble(&src);
    freeImageDouble(&big);
}

TEST(BlockStatistics, GridsOutsideTheSourceAreRefusedWithNothingWritten) {
    TestPicture p(16, 16);
    p.randomise(3);
    IntStats s(3, 1);
    expectRefused(calculateStdDevs(p.get(), &s.sums, &s.squares, &s.dev, 8, 8), "calculateStdDevs",
                  "sums->w * bw <= src->w && sums->h * bh <= src->h");
    EXPECT_TRUE(holdsOnly(s.sums, 0) && holdsOnly(s.squares, 0) && holdsOnly(s.dev, 0.0));
    Kernel k3(3, 3, 1.0);
    ImageDouble dest = callocImageDouble(16, 16);
    EXPECT_EQ(filter(p.get(), &dest, &k3.k, 3, 8, 8), -1);
    EXPECT_TRUE(holdsOnly(dest, 0.0));
    freeImageDouble(&dest);
}
