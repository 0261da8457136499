// The fast flickering must follow the literal composition call by call: the
// same values, and the same counts and states left in its accumulators. Each
// keeps its own call counter (the fast one in its state), and the two are
// called in lockstep on the same frames, each with its own pair of accumulators.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "indicators/fused.hpp"
#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastFramePictures.hpp"
#include "support/callSequences.hpp"

using namespace lumaqc;

namespace {
struct Accumulators {
    TestPicture counts, states;
    Accumulators(uint64_t gw, uint64_t gh) : counts(gw, gh), states(gw, gh) {}
};

// Which first differing byte of an accumulator, if any.
std::string accumulatorMismatch(const char* what, const TestPicture& got, const TestPicture& want, int call) {
    const size_t n = static_cast<size_t>(want.img.w * want.img.h);
    for (size_t i = 0; i < n; ++i) {
        if (got.pixels[i] == want.pixels[i]) continue;
        char line[160];
        std::snprintf(line, sizeof line, "call %d: %s of block %zu is %d, want %d\n", call, what, i, got.pixels[i],
                      want.pixels[i]);
        return line;
    }
    return "";
}

// Runs `calls` calls of both implementations over the frame sequence of the
// given size. With garbage set, both start from the same arbitrary counts
// (near the 8-bit wrap too) and states (also other bytes than 0 and 1).
// transposedPrevious hands the previous picture over with its width and
// height exchanged: only the current width may address it. state and
// referenceFrameCount carry both positions in the period from call to call.
// passBand >= 0 takes the block changes from the one-pass analysis of each
// picture (bands of that many rows, 0 the default) and checks its temporal
// activity too.
std::string runSequence(IndicatorState& state, int32_t& referenceFrameCount, uint64_t w, uint64_t h, int calls,
                        bool garbage, bool transposedPrevious, uint32_t seed, int passBand = -1) {
    const uint64_t gw = w >> 3, gh = h >> 3;
    Accumulators fast(gw, gh), ref(gw, gh);
    if (garbage) {
        std::mt19937 gen(seed + 1);
        const uint8_t stateBytes[] = {0, 1, 0, 1, 2, 255};
        for (uint64_t i = 0; i < gw * gh; ++i) {
            ref.counts.pixels[i] = fast.counts.pixels[i] = static_cast<uint8_t>(gen() % 3 ? 250 + gen() % 6 : gen());
            ref.states.pixels[i] = fast.states.pixels[i] = stateBytes[gen() % 6];
        }
    }
    FrameSequence sequence(w, h, seed);
    TestPicture prev(w, h), cur(w, h);
    sequence.first(prev);
    std::string failures;
    for (int call = 0; call < calls; ++call) {
        cur.pixels = prev.pixels;
        sequence.nextFrame(cur, call);
        Image previous = transposedPrevious ? makeImage(h, w, prev.pixels.data()) : prev.img;
        const double want = reference::flickering(cur.get(), &previous, ref.counts.get(), ref.states.get(),
                                                  referenceFrameCount);
        double got = 0.0;
        if (passBand < 0) {
            got = flickering(cur.get(), &previous, fast.counts.get(), fast.states.get(), state);
        } else {
            // The changes start as garbage: the pass must write every block.
            std::vector<uint8_t> changes(gw * gh, 0xa5);
            IndicatorState pass = stateFor(state.isa);
            pass.bandRows = static_cast<uint32_t>(passBand);
            pass.flickerChanges = changes.data();
            lumaqc_result r{};
            analysePicture(cur.get(), &previous, pass, r, nullptr);
            failures += mismatches({r.temporal_activity}, {reference::temporalActivity(cur.get(), &previous)});
            got = flickeringFromChanges(changes.data(), fast.counts.get(), fast.states.get(), state);
        }
        failures += mismatches({got}, {want});
        failures += accumulatorMismatch("count", fast.counts, ref.counts, call + 1);
        failures += accumulatorMismatch("state", fast.states, ref.states, call + 1);
        if (!failures.empty()) {
            char where[128];
            std::snprintf(where, sizeof where, "%llux%llu%s%s%s [%s], call %d\n", static_cast<unsigned long long>(w),
                          static_cast<unsigned long long>(h), garbage ? " from arbitrary accumulators" : "",
                          transposedPrevious ? " transposed previous" : "", passBand >= 0 ? " one pass" : "",
                          isaName(state.isa), call + 1);
            return where + failures;
        }
        std::swap(prev.pixels, cur.pixels);
    }
    return "";
}

const std::pair<uint64_t, uint64_t> kSizes[] = {{1, 1},   {7, 9},    {8, 8},     {48, 40},    {272, 8},
                                                {264, 8}, {75, 61},  {721, 483}, {1920, 1080}};
}  // namespace

TEST(FlickeringExact, SequencesFromClearedAccumulatorsInEveryVariant) {
    // 40 calls: five periods of different kinds of change; lockstep keeps both
    // counters at the same place from one sequence to the next.
    for (Isa isa : runnableIsas()) {
        expectCallsPass([isa] {
            IndicatorState state = stateFor(isa);
            int32_t referenceFrameCount = 0;
            std::string failures;
            uint32_t seed = 1;
            for (auto [w, h] : kSizes) failures += runSequence(state, referenceFrameCount, w, h, 40, false, false, seed++);
            failures += runSequence(state, referenceFrameCount, 721, 483, 40, false, true, seed++);
            return failures;
        });
    }
}

TEST(FlickeringExact, SequencesFromArbitraryAccumulatorsInEveryVariant) {
    for (Isa isa : runnableIsas()) {
        expectCallsPass([isa] {
            IndicatorState state = stateFor(isa);
            int32_t referenceFrameCount = 0;
            std::string failures;
            uint32_t seed = 50;
            for (auto [w, h] : kSizes) failures += runSequence(state, referenceFrameCount, w, h, 16, true, false, seed++);
            return failures;
        });
    }
}

TEST(FlickeringExact, OnePassBlockChangesGiveTheSameSequences) {
    // The one pass marks the changed blocks band by band (bands of 16 and 48
    // rows and the default), whatever the accumulators held before.
    for (Isa isa : runnableIsas()) {
        for (int band : {0, 16, 48}) {
            for (bool garbage : {false, true}) {
                expectCallsPass([&] {
                    IndicatorState state = stateFor(isa);
                    int32_t referenceFrameCount = 0;
                    std::string failures;
                    uint32_t seed = 90;
                    for (auto [w, h] : kSizes)
                        failures += runSequence(state, referenceFrameCount, w, h, 16, garbage, false, seed++, band);
                    return failures;
                });
            }
        }
    }
}

TEST(FlickeringExact, OnePassMarksABlockForAnyOnePixelThatDiffers) {
    // One pixel differs in two blocks out of three, at every row and column
    // of a block in turn; the changes against a literal comparison of each block.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{75, 61}, {264, 40}, {721, 483}, {1920, 1080}, {33000, 9}}) {
        TestPicture cur(w, h), prev(w, h);
        cur.randomise(static_cast<uint32_t>(w + h));
        prev.pixels = cur.pixels;
        const uint64_t gw = w / 8, gh = h / 8;
        for (uint64_t by = 0; by < gh; ++by)
            for (uint64_t bx = 0; bx < gw; ++bx)
                if ((bx + by) % 3 != 0) {
                    const uint64_t at = (8 * by + (3 * bx + by) % 8) * w + 8 * bx + (bx + 5 * by) % 8;
                    prev.pixels[at] = static_cast<uint8_t>(prev.pixels[at] ^ (1u << ((bx + by) % 8)));
                }
        std::vector<uint8_t> want(gw * gh, 0);
        for (uint64_t b = 0; b < gw * gh; ++b)
            for (uint64_t j = 0; j < 64; ++j) {
                const uint64_t at = (8 * (b / gw) + j / 8) * w + 8 * (b % gw) + j % 8;
                want[b] |= cur.pixels[at] != prev.pixels[at] ? 1 : 0;
            }
        for (Isa isa : runnableIsas()) {
            for (uint32_t band : {0u, 16u, 48u}) {
                std::vector<uint8_t> changes(gw * gh, 0xa5);
                IndicatorState pass = stateFor(isa);
                pass.bandRows = band;
                pass.flickerChanges = changes.data();
                lumaqc_result r{};
                analysePicture(cur.get(), prev.get(), pass, r, nullptr);
                EXPECT_TRUE(changes == want) << w << "x" << h << " [" << isaName(isa) << ", bands of " << band << "]";
                EXPECT_EQ(bitsOf(r.temporal_activity), bitsOf(reference::temporalActivity(cur.get(), prev.get())));
            }
        }
    }
}

TEST(FlickeringExact, VariantsMayChangeBetweenCalls) {
    // The accumulators carry the state, whichever variant filled them.
    expectCallsPass([] {
        std::string failures;
        const std::vector<Isa> isas = runnableIsas();
        const uint64_t w = 203, h = 117;
        Accumulators fast(w >> 3, h >> 3), ref(w >> 3, h >> 3);
        IndicatorState state = stateFor(isas.front());
        int32_t referenceFrameCount = 0;
        FrameSequence sequence(w, h, 77);
        TestPicture prev(w, h), cur(w, h);
        sequence.first(prev);
        for (int call = 0; call < 40 && failures.empty(); ++call) {
            state.isa = isas[static_cast<size_t>(call) % isas.size()];
            cur.pixels = prev.pixels;
            sequence.nextFrame(cur, call);
            const double want =
                reference::flickering(cur.get(), prev.get(), ref.counts.get(), ref.states.get(), referenceFrameCount);
            const double got = flickering(cur.get(), prev.get(), fast.counts.get(), fast.states.get(), state);
            failures += mismatches({got}, {want});
            failures += accumulatorMismatch("count", fast.counts, ref.counts, call + 1);
            failures += accumulatorMismatch("state", fast.states, ref.states, call + 1);
            std::swap(prev.pixels, cur.pixels);
        }
        return failures;
    });
}
