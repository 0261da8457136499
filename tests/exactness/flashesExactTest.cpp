// The flash screening frame by frame: the one pass's block means and the
// incremental runs give the literal composition's values in every variant,
// band height and frame rate, and a stream started two windows early (a
// piece's warm-up) gives the whole stream's values from there on.
#include <gtest/gtest.h>

#include <vector>

#include "indicators/fused.hpp"
#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {

// A sequence of pictures: flashing fields, ramps that reverse, codes at the
// display's clamps and thresholds, noise; sizes off the block grid.
struct Sequence {
    std::string name;
    std::vector<StressPicture> frames;
};

uint32_t nextRandom(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

Sequence makeSequence(const std::string& name, uint64_t w, uint64_t h, int frames, uint32_t seed) {
    Sequence seq{name, {}};
    uint32_t s = seed;
    // Levels around the thresholds: black and clamps, 150/160/170 cd/m2, the peak.
    const int levels[] = {0, 16, 40, 120, 200, 205, 210, 213, 216, 219, 221, 226, 235, 250};
    int field = 40, other = 216;
    uint64_t fx = w / 3, fy = h / 4;
    for (int f = 0; f < frames; ++f) {
        const uint32_t pick = nextRandom(s);
        if (pick % 5 == 0) field = levels[nextRandom(s) % 14];
        if (pick % 7 == 0) other = levels[nextRandom(s) % 14];
        if (pick % 11 == 0) fx = nextRandom(s) % (w + 1), fy = nextRandom(s) % (h + 1);
        // A ramp of a few codes per frame, turning at the ends.
        const int ramp = 16 + (f * 9) % 220 * ((f / 24) % 2 == 0 ? 1 : -1) + ((f / 24) % 2 == 0 ? 0 : 219);
        const bool flip = (f / (1 + pick % 4)) % 2 == 0;
        uint32_t noise = seed ^ static_cast<uint32_t>(f);
        seq.frames.push_back(stressPicture(name + " frame " + std::to_string(f), w, h, [&](uint64_t x, uint64_t y) {
            const int jitter = static_cast<int>(nextRandom(noise) % 3) - 1;
            int v = x < fx ? (flip ? field : other) : (y < fy ? ramp : (flip ? other : field));
            if (x + y < 8 && f % 2 == 1) v = 255 - v;  // a corner block flickering alone
            v += pick % 3 == 0 ? jitter : 0;
            return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }));
    }
    return seq;
}

// Uniform blocks (each block's mean its code) whose frames change no block,
// all but a run of unchanged blocks of every length from 0 to 70 at a moving
// place, one block, or a random half, by a few codes (runs that go on or
// turn), a jump to a level, or all together between a dark and a bright level.
Sequence unchangedRuns(uint64_t gw, uint64_t gh, int frames, uint32_t seed) {
    const uint8_t levels[] = {0, 16, 30, 60, 100, 180, 200, 213, 214, 220, 235, 255};
    const uint64_t n = gw * gh;
    std::vector<uint8_t> codes(n);
    for (uint8_t& c : codes) c = levels[nextRandom(seed) % 12];
    Sequence seq{"unchanged runs", {}};
    for (int f = 0; f < frames; ++f) {
        const uint64_t length = static_cast<uint64_t>(f) % 71, at = static_cast<uint64_t>(f) * 7 % (n + 1);
        for (uint64_t b = 0; b < n && f > 0; ++b) {
            const bool change = f % 4 == 1 ? b < at || b >= at + length
                                           : (f % 4 == 2 ? b == static_cast<uint64_t>(f / 4) % n
                                                         : f % 4 == 3 && nextRandom(seed) % 2 == 0);
            if (!change) continue;
            const uint32_t r = nextRandom(seed);
            int next = f % 4 == 1 ? ((f / 4) % 2 != 0 ? 230 : 20)
                                  : (r % 3 == 0 ? levels[r / 3 % 12] : codes[b] + static_cast<int>(r / 3 % 13) - 6);
            next = next < 0 ? 0 : (next > 255 ? 255 : next);
            codes[b] = static_cast<uint8_t>(next != codes[b] ? next : (next == 255 ? 254 : next + 1));
        }
        seq.frames.push_back(stressPicture("unchanged runs frame " + std::to_string(f), 8 * gw + 3, 8 * gh + 5,
                                           [&](uint64_t x, uint64_t y) {
                                               return x < 8 * gw && y < 8 * gh ? codes[y / 8 * gw + x / 8] : 77;
                                           }));
    }
    return seq;
}

// Block counts around one, two and three steps of 32 blocks, in one row or several.
std::vector<Sequence> sequences() {
    return {makeSequence("small", 37, 21, 90, 1), makeSequence("blocks", 64, 48, 120, 2),
            makeSequence("one block", 8, 8, 60, 3), makeSequence("below a block", 7, 9, 12, 4),
            makeSequence("wide", 520, 40, 70, 5), makeSequence("1080p", 1920, 1080, 8, 6),
            unchangedRuns(31, 1, 100, 7), unchangedRuns(33, 1, 100, 8), unchangedRuns(64, 1, 100, 9),
            unchangedRuns(97, 1, 100, 10), unchangedRuns(9, 7, 100, 11)};
}

const double kRates[] = {25.0, 50.0, 1.0, 7.4, 0.0};

}  // namespace

TEST(FlashesExact, OnePassAndStepSameAsTheReferenceInEveryVariantBandAndRate) {
    // Frames of the reference in a transition and over the rate: the sequences reach both sides of the rule.
    int transitions = 0, quiet = 0, failing = 0;
    for (Sequence& seq : sequences())
        for (Isa isa : runnableIsas())
            for (uint32_t bandRows : {0u, 16u})
                for (double fps : kRates) {
                    if (seq.frames.size() < 20 && fps != 25.0) continue;
                    const uint64_t w = seq.frames[0].img.w, h = seq.frames[0].img.h;
                    IndicatorState state = stateFor(isa);
                    state.bandRows = bandRows;
                    reserveScratch(state, w, h);
                    FlashState fast;
                    reserveFlashes(fast, w, h, fps, isa);
                    reference::FlashHistory history;
                    std::vector<uint8_t> passCodes(fast.blocks), ownCodes(fast.blocks);
                    for (size_t f = 0; f < seq.frames.size(); ++f) {
                        state.flashCodes = passCodes.data();
                        lumaqc_result r{};
                        analysePicture(seq.frames[f].get(), f > 0 ? seq.frames[f - 1].get() : nullptr, state, r,
                                       nullptr);
                        flashBlockCodes(seq.frames[f].get(), ownCodes.data());
                        ASSERT_EQ(passCodes, ownCodes) << seq.frames[f].name << " [" << isaName(isa) << "]";
                        const FlashValues got = flashes(passCodes.data(), fast);
                        const FlashValues want = reference::flashes(seq.frames[f].get(), history, fps);
                        transitions += want.area > LUMAQC_FLASH_MIN_AREA;
                        quiet += want.area >= 0.0 && want.area <= LUMAQC_FLASH_MIN_AREA;
                        failing += want.rate > LUMAQC_FLASH_MAX_RATE;
                        EXPECT_TRUE(sameResult(got.area, want.area) && sameResult(got.rate, want.rate))
                            << seq.frames[f].name << " at " << fps << " fps, bands of " << bandRows << " ["
                            << isaName(isa) << "]: area " << describe(got.area) << " / " << describe(want.area)
                            << ", rate " << describe(got.rate) << " / " << describe(want.rate);
                    }
                }
    EXPECT_GT(transitions, 0);
    EXPECT_GT(quiet, 0);
    EXPECT_GT(failing, 0);
}

TEST(FlashesExact, StreamStartedTwoWindowsEarlyMatchesTheWholeStream) {
    for (Sequence& seq : sequences())
        for (double fps : {25.0, 7.4, 1.0}) {
            const uint64_t w = seq.frames[0].img.w, h = seq.frames[0].img.h;
            const int64_t window = lumaqc_flash_window(fps);
            const int64_t n = static_cast<int64_t>(seq.frames.size());
            std::vector<std::vector<uint8_t>> codes;
            for (StressPicture& p : seq.frames) {
                codes.emplace_back((w / 8) * (h / 8));
                flashBlockCodes(p.get(), codes.back().data());
            }
            FlashState whole;
            reserveFlashes(whole, w, h, fps, bestSupportedIsa());
            std::vector<FlashValues> wanted;
            for (auto& c : codes) wanted.push_back(flashes(c.data(), whole));
            // Every start whose warm-up (the frame before and two windows) fits.
            for (int64_t start = 2 * window + 1; start < n; start += 1 + window / 3) {
                FlashState piece;
                reserveFlashes(piece, w, h, fps, bestSupportedIsa());
                for (int64_t f = start - 2 * window - 1; f < n; ++f) {
                    const FlashValues got = flashes(codes[static_cast<size_t>(f)].data(), piece);
                    if (f < start) continue;
                    const FlashValues& want = wanted[static_cast<size_t>(f)];
                    EXPECT_TRUE(sameResult(got.area, want.area) && sameResult(got.rate, want.rate))
                        << seq.name << " at " << fps << " fps from frame " << start << ", frame " << f << ": area "
                        << got.area << " / " << want.area << ", rate " << got.rate << " / " << want.rate;
                }
            }
        }
}

TEST(FlashesExact, RunsOlderThanTheRunStartsCanCount) {
    // 70000 frames, past twice the 2^15 frames after which old run starts move
    // up: blocks that rise a code every 560 frames in one run from the first
    // frame (their runs' first codes lie far below the window's), blocks that
    // flash in some stretches and rest in others, and blocks that rest from
    // the first frame until one jump.
    const uint64_t blocks = 40;
    std::vector<uint8_t> codes(blocks);
    TestPicture picture(8 * blocks, 8);
    for (double fps : {25.0, 1000.0}) {
        reference::FlashHistory history;
        std::vector<FlashState> fast(runnableIsas().size());
        for (size_t i = 0; i < fast.size(); ++i) reserveFlashes(fast[i], 8 * blocks, 8, fps, runnableIsas()[i]);
        for (int f = 0; f < 70000; ++f) {
            for (int b = 0; b < 40; ++b) {
                const int code = b < 20   ? 16 + (f + 3000 * b) / 560
                                 : b < 30 ? ((f / 5000) % 2 == 0 && (f / (3 + b % 5)) % 2 != 0 ? 220 : 30)
                                          : (f < 30000 + 4000 * (b - 30) ? 50 : 200);
                codes[static_cast<size_t>(b)] = static_cast<uint8_t>(code);
            }
            picture.fill([&](uint64_t x, uint64_t) { return codes[x / 8]; });
            const FlashValues want = reference::flashes(picture.get(), history, fps);
            for (FlashState& state : fast) {
                const FlashValues got = flashes(codes.data(), state);
                ASSERT_TRUE(sameResult(got.area, want.area) && sameResult(got.rate, want.rate))
                    << fps << " fps [" << isaName(state.isa) << "], frame " << f << ": area " << describe(got.area)
                    << " / " << describe(want.area) << ", rate " << describe(got.rate) << " / " << describe(want.rate);
            }
        }
    }
}
