#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fast(const Image* img, IndicatorState& state) { return contrastRMS(img, state); }
double ref(const Image* img) { return reference::contrastRMS(img); }
}  // namespace

TEST(ContrastRMSExact, SameBitsAsTheReferenceOnTheSharedPictures) { expectSameOnAllPictures(fast, ref); }

TEST(ContrastRMSExact, SameBitsOnOddSizesAndUniformPictures) {
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    // Pixel counts around the 64-pixel rounds and the 16384-pixel flushes,
    // uniform (0, a tiny value or not-a-number depending on the last bit of
    // the mean) and random.
    const std::pair<uint64_t, uint64_t> sizes[] = {{63, 1},  {64, 1},    {65, 1},     {127, 129}, {128, 128},
                                                   {3, 5461}, {5, 3277}, {64, 257},   {16385, 1}, {16447, 2},
                                                   {352, 288}, {1920, 1080}, {721, 483}};
    uint32_t seed = 300;
    for (auto [w, h] : sizes) {
        for (int level : {0, 1, 3, 77, 128, 254, 255})
            pictures.push_back(stressPicture("uniform " + std::to_string(level), w, h,
                                             [=](uint64_t, uint64_t) { return uint8_t(level); }));
        pictures.push_back(randomStressPicture("random", w, h, seed++));
        pictures.push_back(stressPicture("one bright pixel", w, h,
                                         [=](uint64_t x, uint64_t y) { return uint8_t(x == w - 1 && y == h - 1 ? 255 : 3); }));
    }
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(ContrastRMSExact, SumsBeyondThirtyTwoBits) {
    // 4096 x 2304 white sums to 2.4e9, past the signed 32-bit range; the
    // squares reach 6.1e11.
    std::vector<StressPicture> pictures;
    pictures.push_back(stressPicture("white", 4096, 2304, [](uint64_t, uint64_t) { return uint8_t(255); }));
    pictures.push_back(stressPicture("bright ramp", 4096, 2304, [](uint64_t x, uint64_t y) {
        return uint8_t(200 + (x * 7 + y) % 56);
    }));
    pictures.push_back(stressPicture("white", 3840, 2160, [](uint64_t, uint64_t) { return uint8_t(255); }));
    expectSameOnStressPictures(pictures, fast, ref);
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_EQ(contrastRMS(pictures[0].get(), state), 0.0) << isaName(isa);
    }
}

TEST(ContrastRMSExact, OnlyTheLow32BitsOfTheSizesCount) {
    // The pixel count is the product of the low 32 bits of w and h as a
    // signed 32-bit value: a width of 2^32 + 2 reads 2 x 3 pixels, and a count
    // of 2^31 or 2^32 reads none (the one-byte buffer would show any read
    // under the sanitizer).
    std::vector<uint8_t> six = {0, 255, 10, 20, 30, 40};
    std::vector<uint8_t> one = {7};
    Image wide{(uint64_t{1} << 32) + 2, 3, six.data()};
    Image negative{65536, 32768, one.data()};
    Image wrapped{65536, 65536, one.data()};
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_TRUE(sameResult(contrastRMS(&wide, state), reference::contrastRMS(&wide))) << isaName(isa);
        EXPECT_TRUE(sameResult(contrastRMS(&negative, state), reference::contrastRMS(&negative))) << isaName(isa);
        EXPECT_TRUE(sameResult(contrastRMS(&wrapped, state), reference::contrastRMS(&wrapped))) << isaName(isa);
        // Six pixels 0, 255, 10, 20, 30, 40: not a degenerate value.
        EXPECT_TRUE(std::isfinite(contrastRMS(&wide, state)) && contrastRMS(&wide, state) > 50.0) << isaName(isa);
    }
}
