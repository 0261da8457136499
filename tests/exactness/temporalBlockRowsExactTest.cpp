// The one pass's block rows of temporal activity against literal loops over
// the pixels: the sum of squared differences, the changed 8 x 8 blocks and the
// largest change of a block sum, with and without the block sums, in every
// instruction-set variant, on widths around the 32-column vector step and
// the 8-column block, and rows that end inside a block row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <tuple>

#include "indicators/bands.hpp"
#include "support/exactness.hpp"

using namespace lumaqc;

TEST(TemporalBlockRowsExact, SquaresChangesAndLargestBlockSumChangeAgainstLiteralLoops) {
    // Widths without a block, around one and two vector steps, with a tail of
    // blocks and of columns, and past the 32768 columns of one 32-bit sum.
    const uint64_t cases[][4] = {{7, 9, 0, 9},    {8, 8, 0, 8},    {31, 17, 0, 17},   {33, 24, 0, 24},
                                 {39, 16, 0, 13}, {40, 40, 16, 40}, {65, 33, 8, 33},  {263, 48, 16, 48},
                                 {1030, 17, 0, 16}, {33000, 8, 0, 8}, {33031, 16, 8, 15}};
    // A picture's pixel and its previous one from a random number: unrelated,
    // a fifth changed, blocks all 0 against all 255 (64 * 255 either way),
    // pixels 0 against 255 whose block sums stay, and none changed.
    using Pair = std::pair<uint8_t, uint8_t>;
    const std::function<Pair(uint64_t, uint64_t, uint32_t)> kinds[] = {
        [](uint64_t, uint64_t, uint32_t r) { return Pair(r, r >> 8); },
        [](uint64_t, uint64_t, uint32_t r) { return Pair(r, r % 5 == 0 ? r >> 8 : r); },
        [](uint64_t x, uint64_t y, uint32_t) { return (x / 8 + y / 8) % 2 != 0 ? Pair(255, 0) : Pair(0, 255); },
        [](uint64_t x, uint64_t y, uint32_t) { return (x + y) % 2 != 0 ? Pair(255, 0) : Pair(0, 255); },
        [](uint64_t, uint64_t, uint32_t r) { return Pair(r, r); }};
    std::mt19937 gen(3);
    bool extreme = false;
    for (const auto& [w, h, y0, y1] : cases)
        for (size_t kind = 0; kind < std::size(kinds); ++kind) {
            TestPicture cur(w, h), prev(w, h);
            for (uint64_t y = 0; y < h; ++y)
                for (uint64_t x = 0; x < w; ++x) std::tie(cur.at(x, y), prev.at(x, y)) = kinds[kind](x, y, gen());
            const uint64_t gw = w / 8;
            uint64_t squares = 0;
            for (uint64_t i = y0 * w; i < y1 * w; ++i)
                squares += static_cast<uint64_t>((cur.pixels[i] - prev.pixels[i]) * (cur.pixels[i] - prev.pixels[i]));
            std::vector<uint8_t> changes(gw * (h / 8), 0xa5);
            int32_t largest = 0;
            for (uint64_t b = y0 / 8 * gw; b < y1 / 8 * gw; ++b) {
                int32_t change = 0;
                changes[b] = 0;
                for (uint64_t i = 0; i < 64; ++i) {
                    const uint64_t at = (b / gw * 8 + i / 8) * w + b % gw * 8 + i % 8;
                    change += cur.pixels[at] - prev.pixels[at];
                    changes[b] |= cur.pixels[at] != prev.pixels[at] ? 1 : 0;
                }
                largest = std::max(largest, std::abs(change));
            }
            extreme = extreme || largest == 64 * 255;
            for (Isa isa : runnableIsas())
                for (int32_t before : {0, 64 * 255, -1}) {
                    const std::string where = std::to_string(w) + "x" + std::to_string(h) + " rows " +
                                              std::to_string(y0) + "-" + std::to_string(y1) + " kind " +
                                              std::to_string(kind) + " from " + std::to_string(before) + " [" +
                                              isaName(isa) + "]";
                    std::vector<uint8_t> got(changes.size(), 0xa5);
                    int32_t most = before;
                    EXPECT_EQ(temporalBlockRows(isa, cur.pixels.data(), prev.pixels.data(), w, y0, y1, got.data(),
                                                before < 0 ? nullptr : &most),
                              squares)
                        << where;
                    EXPECT_TRUE(got == changes) << where;
                    EXPECT_EQ(most, before < 0 ? before : std::max(before, largest)) << where;
                }
        }
    EXPECT_TRUE(extreme);
}
