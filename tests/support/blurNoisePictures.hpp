// Pictures that stress the fast edge-width and noise measures where they
// differ most from the plain compositions: edge candidates in bulk, runs of
// differences across the first and last inner columns, edges in the last
// rows, global thresholds met exactly, block deviations exactly on the
// rounding boundaries, refined modes on a half, more than 1000 matching
// blocks and pictures of 1 ... 24 pixels a side.
#pragma once

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "support/exactness.hpp"

using namespace lumaqc;

// Small sizes around the 8 and 16 grids, every width with every height.
inline std::vector<NamedPicture> smallRandomPictures() {
    static const uint64_t sides[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 23, 24};
    std::vector<NamedPicture> out;
    uint32_t seed = 500;
    for (uint64_t w : sides)
        for (uint64_t h : sides) {
            std::mt19937 gen(seed++);
            // Mostly flat with a few strong steps, so that some pixels clear the threshold.
            out.push_back(namedPicture("small sparse", w, h, [&](uint64_t, uint64_t) {
                const uint32_t r = gen();
                return static_cast<uint8_t>(r % 5 == 0 ? (r >> 8) & 0xff : 90);
            }));
        }
    return out;
}

// One row of a triangle wave: rising by steps that alternate small and large,
// then falling the same way, period 2 * half.
inline uint8_t triangleWave(uint64_t x, uint64_t half, int small, int large, int base) {
    const uint64_t phase = x % (2 * half);
    auto height = [&](uint64_t n) { return static_cast<int>((n / 2) * (small + large) + (n % 2) * small); };
    const int v = phase <= half ? height(phase) : height(2 * half - phase);
    return static_cast<uint8_t>(std::clamp(base + v, 0, 255));
}

inline std::vector<NamedPicture> blurStressPictures() {
    std::vector<NamedPicture> out;
    // Rare rows of long monotone stretches in a flat picture: every pixel of
    // those rows is a vertical peak, and each edge's parts run along the
    // whole stretch. Steps of 1 and 2 keep the threshold below 1.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1920, 1080}, {257, 97}, {64, 50}})
        out.push_back(namedPicture("rare sawtooth rows", w, h, [](uint64_t x, uint64_t y) {
            return y % 48 == 7 ? triangleWave(x, 120, 1, 2, 20) : uint8_t(20);
        }));
    // Shorter stretches of steps 5 and 7 on one row in 24.
    out.push_back(namedPicture("sawtooth 5/7 rows", 300, 200, [](uint64_t x, uint64_t y) {
        return y % 24 == 11 ? triangleWave(x + y, 20, 5, 7, 60) : uint8_t(60);
    }));
    // Alternating steps of 1 and 2 on every row: horizontal peaks at every
    // second pixel when the threshold allows it; plus a few strong ones.
    out.push_back(namedPicture("alternating steps", 200, 40, [](uint64_t x, uint64_t y) {
        if (y % 9 == 4 && x % 37 == 0) return uint8_t(250);
        return triangleWave(x, 60, 1, 2, 10);
    }));
    // Isolated spikes on flat ground: rising then falling differences.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{400, 300}, {33, 18}}) {
        std::mt19937 gen(77 + static_cast<uint32_t>(w));
        out.push_back(namedPicture("sparse spikes", w, h, [&](uint64_t, uint64_t) {
            const uint32_t r = gen();
            return static_cast<uint8_t>(r % 40 == 0 ? (r >> 8) & 0xff : 128);
        }));
    }
    // Random walks along each row with occasional jumps: runs of both signs,
    // broken by zero differences.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{640, 120}, {19, 21}}) {
        std::mt19937 gen(4242 + static_cast<uint32_t>(h));
        std::vector<int> level(h, 128);
        out.push_back(namedPicture("random walk rows", w, h, [&](uint64_t x, uint64_t y) {
            const uint32_t r = gen();
            int step = static_cast<int>(r % 7) - 3;
            if (r % 53 == 0) step = (r >> 8) % 2 ? 90 : -90;
            if (x == 0) level[y] = 128;
            level[y] = std::clamp(level[y] + step, 0, 255);
            return static_cast<uint8_t>(level[y]);
        }));
    }
    // Ramps through the first and last inner columns, rising and falling,
    // in rows that move down the picture, and edges in the last two rows.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{40, 30}, {17, 16}, {6, 5}}) {
        const uint64_t W = w, H = h;
        out.push_back(namedPicture("ramps at the inner bounds", W, H, [=](uint64_t x, uint64_t y) {
            const int kind = static_cast<int>(y % 6);
            const uint64_t fromRight = W - 1 - x;
            switch (kind) {
                case 0:
                    return static_cast<uint8_t>(x < 5 ? 30 * x : 120);  // rises from column 1
                case 1:
                    return static_cast<uint8_t>(x < 5 ? 200 - 30 * x : 80);  // falls from column 1
                case 2:
                    return static_cast<uint8_t>(fromRight < 5 ? 200 - 30 * fromRight : 200);
                case 3:
                    return static_cast<uint8_t>(fromRight < 5 ? 30 * fromRight : 0);
                case 4:
                    return static_cast<uint8_t>(x % 2 ? 10 : 240);
                default:
                    return static_cast<uint8_t>(y + 2 >= H ? (x * 97) % 256 : 100);
            }
        }));
    }
    out.push_back(namedPicture("edges in the last rows", 50, 20, [](uint64_t x, uint64_t y) {
        return static_cast<uint8_t>(y >= 18 ? (x % 5 == 2 ? 255 : x % 5 * 20) : 64);
    }));
    out.push_back(namedPicture("edges in the last columns", 20, 50, [](uint64_t x, uint64_t y) {
        return static_cast<uint8_t>(x >= 17 ? (y % 3) * 100 : 64);
    }));
    // Global threshold met exactly: seven steps of 8 and one of 24 in a
    // 16 x 16 picture give a sum of squares of 1024 and a threshold of exactly 64.
    out.push_back(namedPicture("threshold met exactly", 16, 16, [](uint64_t x, uint64_t y) {
        if (y == 5) return static_cast<uint8_t>(x >= 8 ? 124 : 100);
        if (y == 1 || y == 3 || y == 7 || y == 9 || y == 11 || y == 13 || y == 14)
            return static_cast<uint8_t>(x >= 8 ? 108 : 100);
        return static_cast<uint8_t>(100);
    }));
    // Threshold of exactly 64 again, with a two-step ramp of 16s as the only
    // edge: the eight steps of 8 (G2 = 64) must not count.
    out.push_back(namedPicture("threshold met exactly by steps of 8", 16, 16, [](uint64_t x, uint64_t y) {
        if (y == 5) return static_cast<uint8_t>(x < 8 ? 100 : (x == 8 ? 116 : 132));
        if (y == 1 || y == 3 || y == 7 || y == 9 || y == 11 || y == 12 || y == 13 || y == 14)
            return static_cast<uint8_t>(x >= 8 ? 108 : 100);
        return static_cast<uint8_t>(100);
    }));
    // A first row of strong steps over a ramp of ten steps of 15 in row 1:
    // row 0 holds no horizontal difference, so every ramp pixel is a vertical
    // peak (width 10). A ramp of five steps of 30 in row H - 2 over a last row
    // of steps of 12, which do count (width 5).
    out.push_back(namedPicture("busy first and last rows", 40, 30, [](uint64_t x, uint64_t y) {
        if (y == 0) return static_cast<uint8_t>(x % 2 ? 0 : 255);
        if (y == 29) return static_cast<uint8_t>(x % 2 ? 100 : 112);
        if (y == 1) return static_cast<uint8_t>(x < 10 ? 100 : (x < 20 ? 100 + 15 * (x - 9) : 250));
        if (y == 28) return static_cast<uint8_t>(x < 10 ? 100 : (x < 15 ? 100 + 30 * (x - 9) : 250));
        return static_cast<uint8_t>(100);
    }));
    // Every other row a falling staircase; steps alternating in sign in between.
    out.push_back(namedPicture("mixed directions", 120, 60, [](uint64_t x, uint64_t y) {
        if (y % 2) return static_cast<uint8_t>(255 - (x % 30) * 8);
        return static_cast<uint8_t>(x % 4 == 0 ? 50 : (x % 4 == 2 ? 150 : 100));
    }));
    // The rows are marked 64 columns at a time: widths on either side of
    // where whole chunks of 64 fit, with runs, spikes and edges that start,
    // end or sit at the columns where the chunks meet (63, 64, 127, 128) and
    // at the last inner columns, and runs of 63 to 65 and over 128 columns.
    for (uint64_t w : {66u, 67u, 68u, 127u, 128u, 129u, 130u, 193u}) {
        const uint64_t W = w;
        std::mt19937 gen(900 + static_cast<uint32_t>(w));
        std::vector<int> level(12, 128);
        out.push_back(namedPicture("chunk-edge random walk", W, 12, [&](uint64_t x, uint64_t y) {
            const uint32_t r = gen();
            int step = static_cast<int>(r % 5) - 2;
            if (r % 41 == 0) step = (r >> 8) % 2 ? 80 : -80;
            if (x == 0) level[y] = 128;
            level[y] = std::clamp(level[y] + step, 0, 255);
            return static_cast<uint8_t>(level[y]);
        }));
        // A rising row in a flat picture, from column 3 to the last inner
        // column (threshold below 1): every pixel is a vertical peak whose
        // parts run along the ramp.
        out.push_back(namedPicture("chunk-edge long ramp", W, 40, [=](uint64_t x, uint64_t y) {
            return static_cast<uint8_t>(y == 6 && x >= 3 ? 20 + (x < W - 2 ? x : W - 2) - 3 : 20);
        }));
        // A row rising by 1 from column 3 with one step of 31 at column 135,
        // the only edge of the picture: its left part, the first measured,
        // reaches back 132 columns.
        out.push_back(namedPicture("chunk-edge long run", W, 40, [=](uint64_t x, uint64_t y) {
            if (y != 26 || x < 3) return uint8_t(20);
            const uint64_t at = x < W - 4 ? x : W - 4;
            return static_cast<uint8_t>(20 + (at - 3) + (at >= 135 ? 30 : 0));
        }));
        out.push_back(namedPicture("chunk-edge sawtooth", W, 12, [=](uint64_t x, uint64_t y) {
            return y % 2 ? triangleWave(x + y, 63 + y % 3, 1, 1, 30) : uint8_t(30);
        }));
        out.push_back(namedPicture("chunk-edge spikes", W, 12, [=](uint64_t x, uint64_t y) {
            const bool spike = x == 1 || x == 2 || x == 63 || x == 64 || x == 65 || x == 127 || x == 128 ||
                               x + 3 == W || x + 2 == W || x + 1 == W;
            return static_cast<uint8_t>(spike && (x + y) % 3 != 0 ? 60 + 40 * (y % 4) : 100 - (y % 2) * (x % 3));
        }));
    }
    return out;
}

// A picture of whole 8 x 8 blocks whose sample deviations are exactly
// a / 2: 28 pixels (placed by the seed) at base + a, 36 at base, since
// a^2 * 28 * 36 / (64 * 63) = a^2 / 4. Halves of odd amplitudes sit exactly
// on the rounding boundaries, even amplitudes on the integer boundaries.
// Amplitude 0 is a flat block. Extra columns and rows beyond the blocks hold
// random pixels.
inline NamedPicture deviationPicture(const std::string& name, uint64_t cols, uint64_t rows,
                                     const std::vector<int>& amplitudes, uint64_t extraW = 0, uint64_t extraH = 0,
                                     uint32_t seed = 1) {
    const uint64_t w = cols * 8 + extraW, h = rows * 8 + extraH;
    auto p = std::make_shared<TestPicture>(w, h);
    std::mt19937 gen(seed);
    for (uint64_t i = 0; i < w * h; ++i) p->pixels[i] = static_cast<uint8_t>(gen());
    for (uint64_t k = 0; k < cols * rows; ++k) {
        const int a = amplitudes[k % amplitudes.size()];
        const int base = static_cast<int>(gen() % static_cast<uint32_t>(256 - a));
        std::array<int, 64> order;
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), gen);
        for (int n = 0; n < 64; ++n) {
            const int pos = order[n];
            p->at((k % cols) * 8 + pos % 8, (k / cols) * 8 + pos / 8) = static_cast<uint8_t>(n < 28 ? base + a : base);
        }
    }
    return {name + " " + std::to_string(w) + "x" + std::to_string(h), p};
}

// Amplitude list: count copies of each amplitude, in the order given.
inline std::vector<int> amplitudeRun(std::initializer_list<std::pair<int, int>> counts) {
    std::vector<int> out;
    for (auto [a, n] : counts) out.insert(out.end(), static_cast<size_t>(n), a);
    return out;
}

inline std::vector<NamedPicture> noiseStressPictures() {
    std::vector<NamedPicture> out;
    // Bins 2 and 3 with 8 blocks each, bin 2 first: refined exactly 2.5, sigma 3,
    // blocks of deviation 2.5 and 3 gathered.
    out.push_back(deviationPicture("refined 2.5", 8, 2, amplitudeRun({{3, 4}, {4, 4}, {5, 4}, {6, 4}})));
    // The same with a picture that does not end on the grid.
    out.push_back(deviationPicture("refined 2.5 off grid", 8, 2, amplitudeRun({{3, 4}, {4, 4}, {5, 4}, {6, 4}}), 5, 7));
    // Refined just below the half: 5 + 4 blocks, (10 + 12) / 9.
    out.push_back(deviationPicture("refined 2.44", 3, 3, amplitudeRun({{4, 3}, {3, 2}, {5, 2}, {6, 2}})));
    // Bins 1 and 2 with 4 blocks each, bin 1 first: refined exactly 1.5, sigma 2.
    out.push_back(deviationPicture("refined 1.5", 4, 2, amplitudeRun({{1, 2}, {2, 2}, {3, 2}, {4, 2}})));
    // Mode at bin 0: the refined mode is taken around bin 1, (3 + 10) / 14.
    out.push_back(deviationPicture("mode at bin 0", 7, 2, amplitudeRun({{0, 6}, {1, 2}, {2, 1}, {3, 3}, {4, 2}})));
    // Refined 2.3 with nothing of floor 2: every bin-2 block at 1.5, every bin-3 block at 3.
    out.push_back(deviationPicture("nothing gathered", 5, 2, amplitudeRun({{3, 7}, {6, 3}})));
    // Bins 4 and 5 end with 6 blocks each; bin 5 gets there first: refined 4.5, sigma 5.
    out.push_back(deviationPicture("tie", 6, 2, amplitudeRun({{10, 3}, {8, 3}, {10, 3}, {8, 3}})));
    // Many more than 1000 matching blocks, interleaved with others.
    out.push_back(deviationPicture("thousands matching", 60, 50, {4, 5, 4, 9, 4, 4, 3}, 3, 0, 9));
    out.push_back(deviationPicture("thousands all matching", 41, 40, {8}, 0, 6, 10));
    // Deviations on every half from 0 to 30.
    std::vector<int> all;
    for (int a = 0; a <= 60; ++a) all.push_back(a);
    out.push_back(deviationPicture("every half", 13, 11, all, 2, 3, 11));
    // Blocks of 0 and 255 in equal numbers (deviation about 128.5) beside 127.
    out.push_back(deviationPicture("largest deviations", 4, 4, amplitudeRun({{254, 6}, {255, 4}, {253, 6}})));
    // Block rows summed whole vectors at a time (8 or 4 blocks) and the rest
    // block by block: rows of 7 to 31 blocks, with the largest deviations
    // (the largest square sums) and with a tie of two bins whose blocks are
    // counted in different copies of the histogram.
    for (uint64_t cols : {7u, 8u, 9u, 12u, 16u, 17u, 31u}) {
        const uint32_t seed = 20 + static_cast<uint32_t>(cols);
        out.push_back(deviationPicture("largest deviations " + std::to_string(cols) + " blocks wide", cols, 3,
                                       amplitudeRun({{254, 6}, {255, 4}, {253, 6}}), cols % 3, 1, seed));
        out.push_back(deviationPicture("tie " + std::to_string(cols) + " blocks wide", cols, 3,
                                       amplitudeRun({{10, 5}, {8, 3}, {10, 2}, {8, 4}, {12, 1}}), cols % 5, 2, seed));
    }
    // Noisy content of the smallest sizes.
    for (uint64_t w : {8u, 9u, 15u, 16u, 17u, 23u, 24u})
        for (uint64_t h : {8u, 12u, 16u, 24u}) {
            std::mt19937 gen(static_cast<uint32_t>(w * 100 + h));
            out.push_back(namedPicture("small noisy", w, h, [&](uint64_t x, uint64_t y) {
                return static_cast<uint8_t>(100 + (x + y) % 3 + gen() % 4);
            }));
        }
    return out;
}

// Every width from 60 to 200 (every remainder of the 64-column chunks of
// the edge marks, below and above the width where whole chunks start):
// random walks with jumps along the rows, and steady rises of 1 over a third
// of the row, so that both short and long runs meet the chunk borders.
inline std::vector<NamedPicture> blurWidthSweepPictures() {
    std::vector<NamedPicture> out;
    for (uint64_t w = 60; w <= 200; ++w) {
        std::mt19937 gen(7000 + static_cast<uint32_t>(w));
        int level = 128;
        out.push_back(namedPicture("width sweep", w, 7, [&](uint64_t x, uint64_t y) {
            const uint32_t r = gen();
            int step = static_cast<int>(r % 5) - 2;
            if (r % 29 == 0) step = (r >> 8) % 2 ? 70 : -70;
            if (y % 3 == 2 && x >= w / 3 && x < 2 * w / 3) step = 1;
            if (x == 0) level = 128;
            level = std::clamp(level + step, 0, 255);
            return static_cast<uint8_t>(level);
        }));
    }
    return out;
}

// Block rows of 1 to 40 blocks (every remainder of the 8- and 4-block
// vectors), with deviations spread over a few bins and a few columns and
// rows past the grid.
inline std::vector<NamedPicture> noiseWidthSweepPictures() {
    std::vector<NamedPicture> out;
    for (uint64_t cols = 1; cols <= 40; ++cols)
        out.push_back(deviationPicture("block row sweep", cols, 3, {6, 4, 6, 8, 5, 6, 200},
                                       cols % 8, cols % 3, 300 + static_cast<uint32_t>(cols)));
    return out;
}

// Checks fast(p, state) == reference(p) on the given pictures in every variant.
template <typename Fast, typename Ref>
void expectSameOnPictures(const std::vector<NamedPicture>& pictures, Fast fast, Ref ref) {
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (const NamedPicture& p : pictures) {
            const double want = static_cast<double>(ref(p.get()));
            const double got = static_cast<double>(fast(p.get(), state));
            EXPECT_TRUE(sameResult(got, want))
                << p.name << " [" << isaName(isa) << "]: fast " << describe(got) << ", reference " << describe(want);
        }
    }
}
