// The fast flickering must follow the literal composition call by call: the
// same values, and the same counts and states left in its accumulators. Each
// keeps its own call counter (the fast one in its state), and the two are
// called in lockstep on the same frames, each with its own pair of accumulators.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

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
std::string runSequence(IndicatorState& state, int32_t& referenceFrameCount, uint64_t w, uint64_t h, int calls,
                        bool garbage, bool transposedPrevious, uint32_t seed) {
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
        const double got = flickering(cur.get(), &previous, fast.counts.get(), fast.states.get(), state);
        failures += mismatches({got}, {want});
        failures += accumulatorMismatch("count", fast.counts, ref.counts, call + 1);
        failures += accumulatorMismatch("state", fast.states, ref.states, call + 1);
        if (!failures.empty()) {
            char where[128];
            std::snprintf(where, sizeof where, "%llux%llu%s%s [%s], call %d\n", static_cast<unsigned long long>(w),
                          static_cast<unsigned long long>(h), garbage ? " from arbitrary accumulators" : "",
                          transposedPrevious ? " transposed previous" : "", isaName(state.isa), call + 1);
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
