#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

namespace {
constexpr uint8_t kDark = 16;
constexpr uint8_t kBright = 200;

// Fills columns x0..x1 and rows y0..y1 (inclusive) with value.
void rect(TestPicture& p, uint64_t x0, uint64_t x1, uint64_t y0, uint64_t y1, uint8_t value = kBright) {
    for (uint64_t y = y0; y <= y1; ++y)
        for (uint64_t x = x0; x <= x1; ++x) p.at(x, y) = value;
}

// The score counted straight from the pixels: squared Roberts magnitudes of
// the windows across each boundary of each 256 x 256 region, runs of 12 or
// more strictly above six times the mean magnitude of all windows.
double referenceBlockLoss(TestPicture& p) {
    const uint64_t W = p.img.w, H = p.img.h;
    auto mag = [&](uint64_t x, uint64_t y) -> int64_t {  // window whose bottom-right pixel is (x, y)
        if (x == 0 || y == 0) return 0;
        const int64_t a = int64_t{p.at(x - 1, y - 1)} - p.at(x, y);
        const int64_t b = int64_t{p.at(x, y - 1)} - p.at(x - 1, y);
        return a * a + b * b;
    };
    int64_t sum = 0;
    for (uint64_t y = 0; y < H; ++y)
        for (uint64_t x = 0; x < W; ++x) sum += mag(x, y);
    const double threshold = (static_cast<double>(sum) / static_cast<double>(W * H)) * 6.0;
    auto runsAlong = [&](auto windowAt) {  // runs of 12 among 256 windows
        int count = 0, length = 0;
        for (uint64_t i = 0; i < 256; ++i) {
            length = static_cast<double>(windowAt(i)) > threshold ? length + 1 : 0;
            if (length == 12) ++count;
        }
        return count;
    };
    int64_t total = 0;
    for (uint64_t by = 0; by < H / 256; ++by)
        for (uint64_t bx = 0; bx < W / 256; ++bx) {
            int64_t across = 0, down = 0;
            for (uint64_t k = 0; k < 16; ++k) {
                const uint64_t row = 256 * by + 16 * k, col = 256 * bx + 16 * k;
                across += runsAlong([&](uint64_t i) { return mag(256 * bx + i, row); });
                down += runsAlong([&](uint64_t i) { return mag(col, 256 * by + i); });
            }
            total += across * down;
        }
    return static_cast<double>(total) / static_cast<double>((W / 256) * (H / 256));
}
}  // namespace

TEST(BlockLoss, TooSmallAndUniformPictures) {
    TestPicture narrow(255, 1080, 40);
    EXPECT_EQ(blockLoss(narrow.get()), -1.0);
    TestPicture low(1920, 255, 40);
    EXPECT_EQ(blockLoss(low.get()), -1.0);
    for (uint8_t grey : {0, 128, 255}) {
        TestPicture uniform(300, 270, grey);
        EXPECT_EQ(blockLoss(uniform.get()), 0.0);
    }
}

TEST(BlockLoss, GridAlignedSquareCountsTwoByTwo) {
    // The square's top and bottom lie on horizontal boundaries (rows 96 and
    // 160), its sides on vertical ones (columns 96 and 160).
    TestPicture one(256, 256, kDark);
    rect(one, 96, 159, 96, 159);
    EXPECT_EQ(blockLoss(one.get()), 4.0);

    // Four regions, the square in region (1, 1): 4 / 4.
    TestPicture four(512, 512, kDark);
    rect(four, 320, 383, 320, 383);
    EXPECT_EQ(blockLoss(four.get()), 1.0);

    // One pixel right and down: every edge falls between boundaries.
    TestPicture shifted(256, 256, kDark);
    rect(shifted, 97, 160, 97, 160);
    EXPECT_EQ(blockLoss(shifted.get()), 0.0);
}

TEST(BlockLoss, ThresholdIsSixTimesTheMeanOverEveryPosition) {
    // Stripes (a on odd columns, 0 on even ones) in rows 0..127 raise the
    // mean; a square of 255 at columns 96..159, rows 160..223 lies on the grid.
    // Sum of the squared magnitudes: 127 * 255 stripe windows of 2a^2, 255
    // windows of a^2 under the stripes, 508 * 255^2 around the square; the
    // threshold is 6 * that / 65536 and the square's runs (windows of
    // 2 * 255^2) count only while they lie strictly above it:
    // 6 * (65025a^2 + 508 * 65025) / 65536 < 2 * 65025 exactly when
    // 3a^2 + 1524 < 65536, true for a = 146 and false for a = 147.
    // With a = 146 the threshold is 65472 / 65536 of the square's magnitude;
    // dividing by 255 * 255 positions instead of 256 * 256 would lift it above.
    for (auto [a, want] : {std::pair<uint8_t, double>{146, 4.0}, {147, 0.0}}) {
        TestPicture p(256, 256, 0);
        for (uint64_t y = 0; y < 128; ++y)
            for (uint64_t x = 1; x < 256; x += 2) p.at(x, y) = a;
        rect(p, 96, 159, 160, 223, 255);
        EXPECT_EQ(blockLoss(p.get()), want) << int{a};
    }
}

TEST(BlockLoss, MeanOfTheProductsOverTwoRegions) {
    // Region 0: a grid-aligned square (2 horizontal, 2 vertical runs) and a
    // rectangle whose left side alone lies on the grid (column 160): 2 x 3.
    // Region 1: two rectangles whose top and bottom alone lie on the grid
    // (rows 48, 80 and 160, 208): 4 x 0. Every edge window is far above six
    // times the mean of such a sparse picture.
    TestPicture p(512, 256, kDark);
    rect(p, 32, 95, 32, 95);
    rect(p, 160, 183, 133, 180);
    rect(p, 300, 340, 48, 79);
    rect(p, 405, 450, 160, 207);
    EXPECT_EQ(blockLoss(p.get()), (6.0 + 0.0) / 2.0);

    // Each region alone.
    TestPicture left(256, 256, kDark), right(256, 256, kDark);
    for (uint64_t y = 0; y < 256; ++y)
        for (uint64_t x = 0; x < 256; ++x) {
            left.at(x, y) = p.at(x, y);
            right.at(x, y) = p.at(x + 256, y);
        }
    EXPECT_EQ(blockLoss(left.get()), 6.0);
    EXPECT_EQ(blockLoss(right.get()), 0.0);
}

TEST(BlockLoss, MatchesAStraightCountOnBusyPictures) {
    std::mt19937 gen(11);
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{560, 530}, {256, 300}, {800, 256}}) {
        TestPicture p(w, h);
        p.fill([&](uint64_t, uint64_t) { return static_cast<uint8_t>(100 + gen() % 4); });
        for (int n = 0; n < 40; ++n) {
            // Half the rectangles snap to the block grid.
            const bool snap = gen() % 2 == 0;
            uint64_t x0 = gen() % (w - 40), y0 = gen() % (h - 40);
            uint64_t x1 = x0 + 12 + gen() % 28, y1 = y0 + 12 + gen() % 28;
            if (snap) {
                x0 = x0 / 16 * 16;
                y0 = y0 / 16 * 16;
                x1 = x1 / 16 * 16 - 1;
                y1 = y1 / 16 * 16 - 1;
            }
            rect(p, x0, x1, y0, y1, static_cast<uint8_t>(gen() % 256));
        }
        const double expected = referenceBlockLoss(p);
        EXPECT_GT(expected, 0.0);
        EXPECT_EQ(bitsOf(blockLoss(p.get())), bitsOf(expected)) << w << "x" << h;
    }
}
