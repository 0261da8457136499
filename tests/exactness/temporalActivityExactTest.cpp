// The fast temporal activity must give the same bits as the literal
// composition, in every instruction-set variant.
#include <gtest/gtest.h>

#include <cmath>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastFramePictures.hpp"

using namespace lumaqc;

namespace {
void expectSame(IndicatorState& state, const Image* cur, const Image* prev, const std::string& name) {
    const double want = reference::temporalActivity(cur, prev);
    const double got = temporalActivity(cur, prev, state);
    EXPECT_EQ(bitsOf(got), bitsOf(want)) << name << " [" << isaName(state.isa) << "]: fast " << describe(got)
                                         << ", reference " << describe(want);
}
}  // namespace

TEST(TemporalActivityExact, EveryPictureAgainstCopiesNegativesMovesAndScatteredChanges) {
    const std::vector<NamedPicture> pictures = allPictures();
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        uint32_t seed = 100;
        for (const NamedPicture& p : pictures) {
            for (const NamedPicture& q : comparedWith(p, seed++)) {
                expectSame(state, p.get(), q.get(), p.name + " against its " + q.name);
                expectSame(state, q.get(), p.get(), q.name + " of " + p.name + " against it");
            }
        }
        // The random and the smooth picture of each size against each other.
        for (size_t i = 0; i + 1 < pictures.size(); ++i) {
            const Image* a = pictures[i].get();
            const Image* b = pictures[i + 1].get();
            if (a->w == b->w && a->h == b->h) expectSame(state, a, b, pictures[i].name + " against " + pictures[i + 1].name);
        }
    }
}

TEST(TemporalActivityExact, LargestDifferencesAcrossPartialSumsAndBeyond32Bits) {
    // All 0 against all 255 makes every square 65025: sums around the sizes
    // where partial sums end (16384 pixels) and sums beyond 2^32 (1920 x 1080:
    // 1.3e11; 3840 x 2160: 5.4e11).
    const std::pair<uint64_t, uint64_t> sizes[] = {{16383, 1}, {16384, 1}, {16385, 1}, {128, 128}, {129, 127},
                                                   {1, 32769}, {181, 181}, {1920, 1080}, {3840, 2160}};
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (auto [w, h] : sizes) {
            TestPicture black(w, h, 0), white(w, h, 255), noisy(w, h);
            noisy.randomise(static_cast<uint32_t>(w * 7 + h));
            const std::string size = std::to_string(w) + "x" + std::to_string(h);
            // Independently: every square is 65025, the root of n * 65025 over the root of n.
            const double n = static_cast<double>(w * h);
            EXPECT_EQ(bitsOf(temporalActivity(black.get(), white.get(), state)), bitsOf(std::sqrt(65025.0 * n) / std::sqrt(n)))
                << size << " [" << isaName(isa) << "]";
            expectSame(state, white.get(), black.get(), "white against black " + size);
            expectSame(state, noisy.get(), black.get(), "random against black " + size);
            expectSame(state, white.get(), noisy.get(), "white against random " + size);
        }
    }
}

TEST(TemporalActivityExact, EmptyPicturesAndPreviousDescriptorsOfOtherShapes) {
    uint8_t pixel = 9, other = 200;
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (auto [w, h] : {std::pair<uint64_t, uint64_t>{0, 0}, {0, 7}, {7, 0}}) {
            Image empty = makeImage(w, h, &pixel), prev = makeImage(1, 1, &other);
            const double v = temporalActivity(&empty, &prev, state);
            EXPECT_TRUE(std::isnan(v));
            expectSame(state, &empty, &prev, "empty");
        }
        // Only the current picture's pixel count matters; the previous one is
        // read in buffer order whatever its descriptor says.
        TestPicture cur(721, 483), prev(721, 483);
        cur.randomise(5);
        prev.randomise(6);
        Image transposed = makeImage(483, 721, prev.pixels.data());
        expectSame(state, cur.get(), &transposed, "previous with a transposed descriptor");
        EXPECT_EQ(bitsOf(temporalActivity(cur.get(), &transposed, state)), bitsOf(temporalActivity(cur.get(), prev.get(), state)));
    }
}
