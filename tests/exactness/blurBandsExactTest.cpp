// Blur's share of the one pass, band by band, against a literal per-pixel
// walk of the picture: the squared steps that set the threshold, and the
// edges counted and measured per step, in every instruction-set variant and
// for bands of several heights.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "indicators/bands.hpp"
#include "indicators/fused.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"

using namespace lumaqc;

namespace {

// The literal sums: the squared steps of columns 1 ... W - 1 of rows
// 1 ... H - 1, and per step a = |GX| the edges of rows 1 ... H - 2 and the
// sum of their widths (sign runs cut at columns 2 and W - 2, the local
// threshold below every nonzero step).
struct Literal {
    uint64_t steps = 0;
    uint32_t edges[256] = {};
    uint32_t widths[256] = {};
};

Literal literalWalk(const Image* img) {
    const int64_t W = static_cast<int64_t>(img->w), H = static_cast<int64_t>(img->h);
    auto p = [&](int64_t x, int64_t y) { return static_cast<int32_t>(img->data[y * W + x]); };
    auto gx = [&](int64_t x, int64_t y) { return x == 0 || y == 0 ? 0 : p(x, y) - p(x - 1, y); };
    Literal out;
    for (int64_t y = 1; y < H; ++y)
        for (int64_t x = 1; x < W; ++x) out.steps += static_cast<uint64_t>(gx(x, y) * gx(x, y));
    for (int64_t y = 1; y + 1 < H; ++y) {
        for (int64_t x = 1; x + 1 < W; ++x) {
            const int32_t a = std::abs(gx(x, y));
            const bool horizontalPeak =
                std::abs(gx(x - 1, y)) <= a && a > std::abs(gx(x + 1, y)) && a >= std::abs(p(x, y) - p(x, y - 1));
            const bool verticalPeak = std::abs(gx(x, y - 1)) <= a && a > std::abs(gx(x, y + 1));
            if (a == 0 || !(horizontalPeak || verticalPeak)) continue;
            const int32_t sgn = gx(x, y) < 0 || gx(x + 1, y) < 0 ? -1 : 1;
            uint32_t width = 0;
            for (int64_t c = x + 1; c <= W - 2 && sgn * gx(c, y) >= 1; ++c) ++width;
            for (int64_t c = x; c >= 2 && sgn * gx(c, y) >= 1; --c) ++width;
            ++out.edges[a];
            out.widths[a] += width;
        }
    }
    return out;
}

// Pictures whose widths fall on either side of the vector widths, with steps
// of 255 at the first and last columns, sign runs longer than a word of bits
// and rows that start or end inside a run.
std::vector<NamedPicture> bandPictures() {
    std::vector<NamedPicture> out;
    uint32_t seed = 11;
    for (uint64_t w : {3u, 4u, 66u, 67u, 97u, 128u, 129u, 130u, 193u, 1921u}) {
        for (uint64_t h : {3u, 17u, 34u}) {
            std::mt19937 gen(seed++);
            out.push_back(namedPicture("random", w, h, [&](uint64_t, uint64_t) { return uint8_t(gen()); }));
            out.push_back(namedPicture("full steps at the borders", w, h, [&](uint64_t x, uint64_t y) {
                const bool border = x < 2 || x + 2 >= w;
                return uint8_t(border ? ((x + y) % 2 ? 255 : 0) : 100 + gen() % 9);
            }));
            std::mt19937 walk(seed++);
            int level = 0;
            out.push_back(namedPicture("long rises and falls", w, h, [&](uint64_t x, uint64_t y) {
                if (x == 0) level = static_cast<int>(y * 37 % 256);
                const uint64_t phase = (x + y * 5) % 150;
                level += phase < 70 ? 1 : (phase < 140 ? -1 : static_cast<int>(walk() % 41) - 20);
                level = std::clamp(level, 0, 255);
                return uint8_t(level);
            }));
        }
    }
    return out;
}

}  // namespace

TEST(BlurBandsExact, StepsAndEdgesPerStepEqualTheLiteralWalk) {
    const std::vector<NamedPicture> pictures = bandPictures();
    for (const NamedPicture& p : pictures) {
        const Literal want = literalWalk(p.get());
        const uint64_t w = p.get()->w, h = p.get()->h;
        for (Isa isa : runnableIsas()) {
            for (uint64_t band : {16u, 32u, 4096u}) {
                for (uint32_t low : {1u, 9u, 40u, 255u}) {
                    IndicatorState state = stateFor(isa);
                    state.blurBands.lastStep = low;
                    blurBandsStart(w, h, state);
                    state.blurBands.low = low;
                    uint64_t steps = 0;
                    for (uint64_t y0 = 0; y0 < h; y0 += band) {
                        const uint64_t y1 = std::min(h, y0 + band);
                        steps += blurBandRows(isa, p.get()->data, w, h, y0 == 0 ? 1 : y0, y1, state);
                    }
                    const std::string where = p.name + " [" + isaName(isa) + ", bands of " + std::to_string(band) +
                                              ", from step " + std::to_string(low) + "]";
                    EXPECT_EQ(steps, want.steps) << where;
                    uint32_t differing = 0;
                    for (uint32_t a = low; a < 256; ++a)
                        differing += state.blurBands.edges[a] != want.edges[a] ||
                                     state.blurBands.widths[a] != want.widths[a];
                    EXPECT_EQ(differing, 0u) << where;
                }
            }
        }
    }
}

TEST(BlurBandsExact, SequencesOfRisingAndFallingStepsEqualTheReference) {
    // Pictures whose edge step follows each amplitude: steady, falling by
    // one or two a picture, a large fall after a quiet stretch, falls
    // repeated after a long one has left the pictures remembered, rises.
    // Each has steps every 16 columns of heights spread over half to one
    // and a half times the amplitude, so that edges of every step near the
    // threshold are there to be missed.
    const std::vector<std::vector<int>> sequences = {
        {60, 60, 60, 60},
        {90, 88, 86, 84, 82, 80, 79, 78},
        {70, 70, 70, 70, 70, 70, 30, 30, 31, 29},
        {120, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 59, 50, 49},
        {20, 40, 80, 120, 100, 99, 101, 90},
        {70, 70, 70, 70, 70, 70, 69, 68, 67, 66, 65, 63, 61},
        // The same picture for the same amplitude: a steady step, then a
        // fall of one, two ... steps.
        {60, 60, 60, 59}, {60, 60, 60, 58}, {60, 60, 60, 57}, {60, 60, 60, 56}, {60, 60, 60, 55},
    };
    for (const std::vector<int>& amplitudes : sequences) {
        std::vector<NamedPicture> pictures;
        for (int amplitude : amplitudes) {
            std::mt19937 gen(static_cast<uint32_t>(amplitude));
            std::vector<int> heights(16 * 40);
            for (int& height : heights)
                height = amplitude / 2 + static_cast<int>(gen() % static_cast<uint32_t>(amplitude + 1));
            const std::string name = "steps of " + std::to_string(amplitude);
            pictures.push_back(namedPicture(name, 131, 37, [&](uint64_t x, uint64_t y) {
                // Each jump goes on rising by 2 for up to three columns, so
                // that the widths differ.
                const int height = heights[(y * 16 + x / 16) % heights.size()];
                const int t = static_cast<int>(x % 16);
                return uint8_t(30 + ((x / 16) % 2 != 0 ? height + 2 * std::min(t, height % 4) : 0));
            }));
        }
        for (Isa isa : runnableIsas()) {
            IndicatorState state = stateFor(isa);
            int inBands = 0, scannedAgain = 0;
            for (const NamedPicture& p : pictures) {
                lumaqc_result r{};
                analysePicture(p.get(), nullptr, state, r, nullptr);
                const bool measured = state.blurBands.active && state.blurBands.lastStep >= state.blurBands.low;
                (measured ? inBands : scannedAgain) += 1;
                const double want = reference::blur(p.get());
                EXPECT_TRUE(sameResult(r.blur, want)) << p.name << " [" << isaName(isa) << "]: fused "
                                                      << describe(r.blur) << ", reference " << describe(want);
            }
            // The first picture is always scanned on its own.
            EXPECT_GE(scannedAgain, 1) << isaName(isa);
            EXPECT_GE(inBands, 1) << isaName(isa);
        }
    }
}
