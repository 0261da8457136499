// The fast edge-width measure against its plain composition, bit for bit,
// in every instruction-set variant.
#include <gtest/gtest.h>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/blurNoisePictures.hpp"
#include "support/exactness.hpp"

using namespace lumaqc;

namespace {

double fastBlur(const Image* img, IndicatorState& state) { return blur(img, state); }
double referenceBlur(const Image* img) { return reference::blur(img); }

}  // namespace

TEST(BlurExact, SameAsReferenceOnCommonAndStressPictures) {
    expectSameOnAllPictures(fastBlur, referenceBlur);
    expectSameOnPictures(blurStressPictures(), fastBlur, referenceBlur);
    expectSameOnPictures(smallRandomPictures(), fastBlur, referenceBlur);
}

TEST(BlurExact, SameAsReferenceAtEveryWidthAcrossTheMarkChunks) {
    expectSameOnPictures(blurWidthSweepPictures(), fastBlur, referenceBlur);
}

TEST(BlurExact, ThresholdMetExactlyIsNoEdge) {
    const std::vector<NamedPicture> pictures = blurStressPictures();
    // Sum of squared steps 1024 over 256 pixels: threshold exactly 64. The steps
    // of 8 square to 64 and are passed over; a lone step of 24 has width 1.
    const NamedPicture single = findPicture(pictures, "threshold met exactly 16x16");
    // The ramp of two 16s: both pixels are vertical peaks; the first has a
    // right part of 1 and a left part of 1, the second a left part of 2: 4 / 2.
    const NamedPicture ramp = findPicture(pictures, "threshold met exactly by steps of 8 16x16");
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_EQ(blur(single.get(), state), 1.0) << isaName(isa);
        EXPECT_EQ(blur(ramp.get(), state), 2.0) << isaName(isa);
    }
}

TEST(BlurExact, LongRunsWithAnEdgeAtEveryPixel) {
    // One row of a steady rise by 1 in a flat 60 x 20 picture, columns 10 ... 49
    // (threshold 40 / 1200 * 16 < 1): every pixel of the rise is a vertical peak. The edge at column c (rising,
    // b = 1 up to column 49) has a left part reaching column 10 and a right
    // part reaching column 49: (c - 9) + (49 - c) = 40 for c = 10 ... 48, and
    // 40 + 0 at column 49 (b = 0). Every edge is 40 wide.
    TestPicture p(60, 20, 0);
    for (uint64_t x = 0; x < 60; ++x) p.at(x, 2) = static_cast<uint8_t>(x < 10 ? 0 : (x < 50 ? x - 9 : 40));
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_EQ(blur(p.get(), state), 40.0) << isaName(isa);
    }
    // A falling run that ends at the last inner column: no right part at
    // column 58, the run is cut at column 58 for the others.
    TestPicture q(60, 40, 200);
    for (uint64_t x = 0; x < 60; ++x) q.at(x, 2) = static_cast<uint8_t>(x < 30 ? 200 : 200 - (x - 29));
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_TRUE(sameResult(blur(q.get(), state), reference::blur(q.get()))) << isaName(isa);
    }
}

TEST(BlurExact, ScratchFollowsThePictureSize) {
    // Large, small, large again: kept scratch must neither leak old rows nor fall short.
    const std::vector<NamedPicture> pictures = allPictures();
    std::vector<NamedPicture> sequence;
    for (const NamedPicture& p : pictures)
        if (p.name == "random 1920x1080" || p.name == "random 7x9" || p.name == "smooth 257x256") sequence.push_back(p);
    ASSERT_EQ(sequence.size(), 3u);
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (int round = 0; round < 2; ++round)
            for (const NamedPicture& p : sequence)
                EXPECT_TRUE(sameResult(blur(p.get(), state), reference::blur(p.get()))) << p.name << " [" << isaName(isa) << "]";
    }
}
