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

std::vector<Sequence> sequences() {
    return {makeSequence("small", 37, 21, 90, 1), makeSequence("blocks", 64, 48, 120, 2),
            makeSequence("one block", 8, 8, 60, 3), makeSequence("below a block", 7, 9, 12, 4),
            makeSequence("wide", 520, 40, 70, 5), makeSequence("1080p", 1920, 1080, 8, 6)};
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
                    reserveFlashes(fast, w, h, fps);
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
            reserveFlashes(whole, w, h, fps);
            std::vector<FlashValues> wanted;
            for (auto& c : codes) wanted.push_back(flashes(c.data(), whole));
            // Every start whose warm-up (the frame before and two windows) fits.
            for (int64_t start = 2 * window + 1; start < n; start += 1 + window / 3) {
                FlashState piece;
                reserveFlashes(piece, w, h, fps);
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
