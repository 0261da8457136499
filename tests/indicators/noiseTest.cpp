#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

namespace {
// 8 x 8 blocks of two levels, 32 pixels each, have the sample deviation
// step * sqrt(32 * 32 / (64 * 63)) = step * 0.50395:
//   step 2 -> 1.008, 7 -> 3.528, 8 -> 4.032, 9 -> 4.536, 10 -> 5.040,
//   11 -> 5.543, 12 -> 6.047, and 255 (0 and 255) -> 128.51.
struct Block {
    int base;
    int step;
};

// Paints block (bx, by): 32 pixels, chosen by the seed, at base + step, the others at base.
void paintBlock(TestPicture& p, uint64_t bx, uint64_t by, Block b, uint32_t seed) {
    std::array<int, 64> order;
    std::iota(order.begin(), order.end(), 0);
    std::mt19937 gen(seed);
    std::shuffle(order.begin(), order.end(), gen);
    for (int k = 0; k < 64; ++k) {
        const int pos = order[k];
        p.at(bx * 8 + pos % 8, by * 8 + pos / 8) = static_cast<uint8_t>(k < 32 ? b.base + b.step : b.base);
    }
}

// Lays the blocks row by row over a picture of cols x rows blocks.
TestPicture blockPicture(uint64_t cols, uint64_t rows, const std::vector<Block>& blocks, uint32_t seed) {
    TestPicture p(cols * 8, rows * 8);
    for (uint64_t k = 0; k < blocks.size(); ++k) paintBlock(p, k % cols, k / cols, blocks[k], seed + k);
    return p;
}

using Kernel3 = std::array<std::array<double, 3>, 3>;

Kernel3 gaussianWeights(int sigma) {
    Kernel3 w;
    for (int y = -1; y <= 1; ++y)
        for (int x = -1; x <= 1; ++x)
            w[y + 1][x + 1] = std::exp(-(x * x + y * y) / (2.0 * sigma * sigma)) / (6.28 * sigma * sigma);
    return w;
}

// The noise measure over the given blocks (indexes in row order), written
// plainly: smoothed inner pixel, residual, two-pass sample deviation of the
// 36 inner residuals, mean over the blocks.
double plainNoise(TestPicture& p, const std::vector<uint64_t>& blocks, const Kernel3& w) {
    const uint64_t cols = p.img.w / 8;
    double total = 0.0;
    for (uint64_t b : blocks) {
        const uint64_t x0 = (b % cols) * 8, y0 = (b / cols) * 8;
        std::vector<double> residual;
        for (uint64_t r = 1; r <= 6; ++r)
            for (uint64_t c = 1; c <= 6; ++c) {
                double smooth = 0.0;
                for (int i = 0; i < 3; ++i)
                    for (int j = 0; j < 3; ++j) smooth += w[i][j] * p.at(x0 + c - 1 + j, y0 + r - 1 + i);
                residual.push_back(p.at(x0 + c, y0 + r) - smooth);
            }
        double mean = 0.0;
        for (double v : residual) mean += v;
        mean /= 36.0;
        double ss = 0.0;
        for (double v : residual) ss += (v - mean) * (v - mean);
        total += std::sqrt(ss / 35.0);
    }
    return total / static_cast<double>(blocks.size());
}

// Indexes of the blocks whose step is one of the given steps.
std::vector<uint64_t> blocksWithStep(const std::vector<Block>& blocks, std::initializer_list<int> steps) {
    std::vector<uint64_t> out;
    for (uint64_t k = 0; k < blocks.size(); ++k)
        if (std::find(steps.begin(), steps.end(), blocks[k].step) != steps.end()) out.push_back(k);
    return out;
}

std::vector<Block> shuffledBlocks(std::vector<std::pair<int, int>> countAndStep, uint32_t seed) {
    std::vector<Block> out;
    std::mt19937 gen(seed);
    for (auto [count, step] : countAndStep)
        for (int i = 0; i < count; ++i) out.push_back({20 + static_cast<int>(gen() % 180), step});
    std::shuffle(out.begin(), out.end(), gen);
    return out;
}

void expectClose(double actual, double expected) { EXPECT_NEAR(actual, expected, 1e-9 * std::max(1.0, expected)); }
}  // namespace

TEST(Noise, FlatAndBlocklessPicturesGiveZero) {
    TestPicture flat(64, 48, 77);
    EXPECT_EQ(bitsOf(noise(flat.get())), bitsOf(0.0));
    TestPicture narrow(7, 100), low(100, 7);
    narrow.randomise(1);
    low.randomise(2);
    EXPECT_EQ(bitsOf(noise(narrow.get())), bitsOf(0.0));
    EXPECT_EQ(bitsOf(noise(low.get())), bitsOf(0.0));
    Image empty = makeImage(0, 0, nullptr);
    EXPECT_EQ(bitsOf(noise(&empty)), bitsOf(0.0));
    // A mode whose three bins average below one half rounds to 0 as well: nine
    // flat blocks and one of deviation 4.03 (bins 0, 1, 2 hold 9, 0, 0).
    std::vector<Block> mostlyFlat(9, Block{100, 0});
    mostlyFlat.push_back({100, 8});
    TestPicture p = blockPicture(5, 2, mostlyFlat, 3);
    EXPECT_EQ(bitsOf(noise(p.get())), bitsOf(0.0));
}

TEST(Noise, RefinedModeAndGatheringIntervals) {
    // Bins 4, 5, 6 hold 10, 30, 20 blocks: refined 310 / 60 = 5.167, sigma 5,
    // m 5, so 5 <= d < 6 is gathered: steps 10 and 11 (bin 5 and bin 6), not
    // step 9 (bin 5, below 5) nor step 12.
    {
        auto blocks = shuffledBlocks({{10, 8}, {20, 10}, {10, 9}, {10, 11}, {10, 12}}, 21);
        TestPicture p = blockPicture(10, 6, blocks, 100);
        const double want = plainNoise(p, blocksWithStep(blocks, {10, 11}), gaussianWeights(5));
        expectClose(noise(p.get()), want);
        EXPECT_GT(std::fabs(want - plainNoise(p, blocksWithStep(blocks, {9, 10}), gaussianWeights(5))), 1e-6);
    }
    // Bins 4 and 5 hold 7 and 3: refined 4.3, sigma 4, 4 <= d < 5: steps 8 and 9.
    {
        auto blocks = shuffledBlocks({{4, 8}, {3, 7}, {2, 9}, {1, 10}}, 22);
        TestPicture p = blockPicture(5, 2, blocks, 200);
        const double want = plainNoise(p, blocksWithStep(blocks, {8, 9}), gaussianWeights(4));
        expectClose(noise(p.get()), want);
        EXPECT_GT(std::fabs(want - plainNoise(p, blocksWithStep(blocks, {7, 8}), gaussianWeights(4))), 1e-6);
    }
    // Bins 4 and 5 hold 4 and 6: refined 4.6, sigma 5, 4.5 <= d < 5.5: steps 9
    // and 10; step 8 (d 4.03, rounded down 4) is not taken.
    {
        auto blocks = shuffledBlocks({{2, 8}, {2, 7}, {3, 9}, {3, 10}}, 23);
        TestPicture p = blockPicture(5, 2, blocks, 300);
        const double want = plainNoise(p, blocksWithStep(blocks, {9, 10}), gaussianWeights(5));
        expectClose(noise(p.get()), want);
        EXPECT_GT(std::fabs(want - plainNoise(p, blocksWithStep(blocks, {8, 9}), gaussianWeights(5))), 1e-6);
    }
}

TEST(Noise, TiesGoToTheBinThatGotThereFirst) {
    // Five blocks of deviation 4.03 (bin 4) and five of 6.05 (bin 6). With
    // mode 4 refined is 4 and steps 8 are gathered with sigma 4; with mode 6
    // refined is 6 and steps 12 are gathered with sigma 6.
    auto interleaved = [](int first, int second) {
        std::vector<Block> b;
        for (int i = 0; i < 5; ++i) {
            b.push_back({60 + 7 * i, first});
            b.push_back({90 + 5 * i, second});
        }
        return b;
    };
    auto eightsFirst = interleaved(8, 12);
    TestPicture a = blockPicture(5, 2, eightsFirst, 400);
    expectClose(noise(a.get()), plainNoise(a, blocksWithStep(eightsFirst, {8}), gaussianWeights(4)));

    auto twelvesFirst = interleaved(12, 8);
    TestPicture b = blockPicture(5, 2, twelvesFirst, 500);
    expectClose(noise(b.get()), plainNoise(b, blocksWithStep(twelvesFirst, {12}), gaussianWeights(6)));

    // Bin 6 leads 2 to 0, bin 4 overtakes with 3, bin 6 draws level at 3: bin 4 stays the mode.
    std::vector<Block> overtaken = {{50, 12}, {51, 12}, {52, 8}, {53, 8}, {54, 8}, {55, 12}};
    TestPicture c = blockPicture(6, 1, overtaken, 600);
    expectClose(noise(c.get()), plainNoise(c, blocksWithStep(overtaken, {8}), gaussianWeights(4)));
}

TEST(Noise, AtMostTheFirstThousandMatchingBlocks) {
    // 40 x 30 blocks, all of deviation 5.04 (sigma 5, m 5, all match). Rows 0-24
    // hold the first 1000; the last 200 have their bright half on top, a much
    // smoother layout whose residual differs. Only the first 1000 count.
    std::vector<Block> blocks;
    std::mt19937 gen(8);
    for (int k = 0; k < 1200; ++k) blocks.push_back({20 + static_cast<int>(gen() % 180), 10});
    TestPicture p = blockPicture(40, 30, blocks, 700);
    for (uint64_t k = 1000; k < 1200; ++k)
        for (uint64_t y = 0; y < 8; ++y)
            for (uint64_t x = 0; x < 8; ++x)
                p.at((k % 40) * 8 + x, (k / 40) * 8 + y) =
                    static_cast<uint8_t>(y < 4 ? blocks[k].base + 10 : blocks[k].base);
    std::vector<uint64_t> first(1000), all(1200);
    std::iota(first.begin(), first.end(), 0);
    std::iota(all.begin(), all.end(), 0);
    const double want = plainNoise(p, first, gaussianWeights(5));
    expectClose(noise(p.get()), want);
    EXPECT_GT(std::fabs(want - plainNoise(p, all, gaussianWeights(5))), 1e-3);
}

TEST(Noise, SigmaOneKernelWeights) {
    // Deviation 1.008 everywhere: refined 1, sigma 1. The weights, worked out
    // by hand: centre 1/6.28, edges e^-0.5/6.28, corners e^-1/6.28, not normalised.
    const double centre = 1.0 / 6.28, edge = std::exp(-0.5) / 6.28, corner = std::exp(-1.0) / 6.28;
    EXPECT_NEAR(centre, 0.1592, 5e-5);
    EXPECT_NEAR(edge, 0.0966, 5e-5);
    EXPECT_NEAR(corner, 0.0586, 5e-5);
    const Kernel3 w = {{{corner, edge, corner}, {edge, centre, edge}, {corner, edge, corner}}};
    auto blocks = shuffledBlocks({{48, 2}}, 31);
    TestPicture p = blockPicture(8, 6, blocks, 800);
    std::vector<uint64_t> all(48);
    std::iota(all.begin(), all.end(), 0);
    const double want = plainNoise(p, all, w);
    expectClose(noise(p.get()), want);
    // 2 pi in place of 6.28 would be told apart.
    Kernel3 twoPi = w;
    for (auto& row : twoPi)
        for (double& v : row) v *= 6.28 / (2.0 * std::numbers::pi);
    EXPECT_GT(std::fabs(want - plainNoise(p, all, twoPi)), 1e-7);
}

TEST(Noise, NothingGatheredIsNotANumber) {
    // Bin 5 holds four blocks of 4.54, bin 6 one of 6.05: refined 26 / 5 = 5.2,
    // sigma = m = 5, and no deviation lies in 5 <= d < 6.
    std::vector<Block> blocks = {{40, 9}, {80, 9}, {120, 12}, {160, 9}, {200, 9}};
    TestPicture p = blockPicture(5, 1, blocks, 900);
    const double v = noise(p.get());
    EXPECT_TRUE(std::isnan(v));
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_TRUE(std::signbit(v));  // the 0/0 of the processor, printed "-nan"
#endif

    // Half black, half white blocks (128.51) count in the last bin: refined
    // 127, and 128.51 does not round down to 127.
    TestPicture extreme(16, 16);
    extreme.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>((x + y) % 2 ? 255 : 0); });
    EXPECT_TRUE(std::isnan(noise(extreme.get())));
}

TEST(Noise, ExtremeDeviationsShareTheLastBin) {
    // Bin 127: three 0/255 blocks (128.51) and one 0/252 block (127.00);
    // bin 126: two 0/250 blocks (125.99). Refined (2 * 126 + 4 * 127) / 6 =
    // 126.67: sigma 127, m 126, and only the 0/252 block rounds to 127.
    std::vector<Block> blocks = {{0, 255}, {0, 250}, {0, 255}, {0, 252}, {0, 250}, {0, 255}};
    TestPicture p = blockPicture(3, 2, blocks, 1000);
    expectClose(noise(p.get()), plainNoise(p, {3}, gaussianWeights(127)));
}

TEST(Noise, BinCountsBeyondSixteenBits) {
    // 280 x 250 blocks: 65 537 flat ones first, then 4 463 of deviation 5.04.
    // Bin 0 is the mode (refined 0, result 0); a bin that wrapped at 65 536
    // would hand the mode to bin 5.
    TestPicture p(2240, 2000, 100);
    for (uint64_t k = 65537; k < 70000; ++k)
        for (uint64_t y = 0; y < 8; ++y)
            for (uint64_t x = 0; x < 8; ++x)
                p.at((k % 280) * 8 + x, (k / 280) * 8 + y) = static_cast<uint8_t>((x + y) % 2 ? 110 : 100);
    EXPECT_EQ(bitsOf(noise(p.get())), bitsOf(0.0));
}

TEST(Noise, AwkwardSizesStayInsideThePicture) {
    // Columns and rows beyond the whole blocks take no part.
    auto blocks = shuffledBlocks({{12, 10}}, 41);
    TestPicture p = blockPicture(4, 3, blocks, 1100);
    TestPicture q(37, 29);
    q.randomise(12);
    for (uint64_t y = 0; y < 24; ++y)
        for (uint64_t x = 0; x < 32; ++x) q.at(x, y) = p.at(x, y);
    std::vector<uint64_t> all(12);
    std::iota(all.begin(), all.end(), 0);
    expectClose(noise(q.get()), plainNoise(p, all, gaussianWeights(5)));
}

TEST(Compare, AscendingOrderOfDoubles) {
    double a = 1.5, b = 2.5, nan = std::sqrt(-1.0);
    EXPECT_EQ(compare(&a, &b), -1);
    EXPECT_EQ(compare(&b, &a), 1);
    EXPECT_EQ(compare(&a, &a), 0);
    EXPECT_EQ(compare(&a, &nan), 0);
    std::vector<double> v = {3.0, -1.0, 2.0, 0.5};
    std::qsort(v.data(), v.size(), sizeof(double), compare);
    EXPECT_EQ(v, (std::vector<double>{-1.0, 0.5, 2.0, 3.0}));
}
