// The fast noise measure against its plain composition, bit for bit, in
// every instruction-set variant.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/blurNoisePictures.hpp"
#include "support/exactness.hpp"

using namespace lumaqc;

namespace {

double fastNoise(const Image* img, IndicatorState& state) { return noise(img, state); }
double referenceNoise(const Image* img) { return reference::noise(img, standardOutputSink()); }

}  // namespace

TEST(NoiseExact, SameAsReferenceOnCommonAndStressPictures) {
    expectSameOnAllPictures(fastNoise, referenceNoise);
    expectSameOnPictures(noiseStressPictures(), fastNoise, referenceNoise);
    expectSameOnPictures(smallRandomPictures(), fastNoise, referenceNoise);
}

TEST(NoiseExact, SameAsReferenceForBlockRowsOfEveryLengthUpTo40Blocks) {
    expectSameOnPictures(noiseWidthSweepPictures(), fastNoise, referenceNoise);
}

TEST(NoiseExact, DeviationsOnTheBoundaries) {
    const std::vector<NamedPicture> pictures = noiseStressPictures();
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        // Bin 2 holds 7 blocks at 1.5, bin 3 holds 3 at 3.0: refined 2.3 asks
        // for deviations of floor 2, and there are none: 0 / 0.
        EXPECT_TRUE(std::isnan(noise(findPicture(pictures, "nothing gathered 40x16").get(), state))) << isaName(isa);
        // Refined exactly 2.5 rounds up to sigma 3: the blocks of 2.5 and 3.0
        // are gathered, a measurable set.
        const NamedPicture half = findPicture(pictures, "refined 2.5 64x16");
        const double got = noise(half.get(), state);
        EXPECT_FALSE(std::isnan(got)) << isaName(isa);
        EXPECT_TRUE(sameResult(got, reference::noise(half.get(), standardOutputSink()))) << isaName(isa);
        // Flattening the first block row (the bin-2 blocks) makes bin 0 the
        // first to reach 8: c = 1, refined (0 * 8 + 1 * 0 + 2 * 0) / 8 = 0, result 0.
        TestPicture changed(64, 16);
        std::memcpy(changed.pixels.data(), half.picture->pixels.data(), 64 * 16);
        for (uint64_t y = 0; y < 8; ++y)
            for (uint64_t x = 0; x < 64; ++x) changed.at(x, y) = 77;
        EXPECT_EQ(noise(changed.get(), state), 0.0) << isaName(isa);
    }
}

TEST(NoiseExact, ScratchFollowsThePictureSize) {
    const std::vector<NamedPicture> pictures = allPictures();
    std::vector<NamedPicture> sequence;
    for (const NamedPicture& p : pictures)
        if (p.name == "random 1920x1080" || p.name == "smooth 17x49" || p.name == "smooth 721x483")
            sequence.push_back(p);
    ASSERT_EQ(sequence.size(), 3u);
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (int round = 0; round < 2; ++round)
            for (const NamedPicture& p : sequence)
                EXPECT_TRUE(sameResult(noise(p.get(), state), reference::noise(p.get(), standardOutputSink()))) << p.name << " [" << isaName(isa) << "]";
    }
}
