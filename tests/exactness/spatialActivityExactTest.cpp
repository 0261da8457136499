#include <gtest/gtest.h>

#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fast(const Image* img, IndicatorState& state) { return spatialActivity(img, state); }
double ref(const Image* img) { return reference::spatialActivity(img); }
}  // namespace

TEST(SpatialActivityExact, SameBitsAsTheReferenceOnTheSharedPictures) { expectSameOnAllPictures(fast, ref); }

TEST(SpatialActivityExact, SameBitsOnOddSizesAndLongLines) {
    // Sizes 0 to 2 have no interior pixel; widths around 1024 and 2048 split
    // rows into several passes.
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    expectSameOnStressPictures(pictures, fast, ref);
}

TEST(SpatialActivityExact, SameBitsOnTheStrongestGradients) {
    std::vector<StressPicture> pictures;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1920, 1080}, {1027, 300}, {2050, 64}, {3, 3}, {4, 1000}}) {
        // Two-pixel stripes in both directions: Gx and Gy reach +-1020 side by side.
        pictures.push_back(stressPicture("two-pixel checks", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(((x / 2) + (y / 2)) % 2 ? 255 : 0);
        }));
        pictures.push_back(stressPicture("two-pixel columns", w, h,
                                         [](uint64_t x, uint64_t) { return uint8_t((x / 2) % 2 ? 255 : 0); }));
        pictures.push_back(stressPicture("two-pixel rows", w, h,
                                         [](uint64_t, uint64_t y) { return uint8_t((y / 2) % 2 ? 0 : 255); }));
        pictures.push_back(stressPicture("diagonal edges", w, h,
                                         [](uint64_t x, uint64_t y) { return uint8_t(((x + y) / 3) % 2 ? 255 : 0); }));
        std::mt19937 gen(static_cast<uint32_t>(w * 31 + h));
        pictures.push_back(stressPicture("black and white noise", w, h,
                                         [&](uint64_t, uint64_t) { return uint8_t(gen() & 1 ? 255 : 0); }));
    }
    expectSameOnStressPictures(pictures, fast, ref);

    // The 3 x 3 example: right column white, Gx = 1020 at the single
    // interior pixel, 1020 / 3 in every variant.
    StressPicture edge = stressPicture("right column", 3, 3, [](uint64_t x, uint64_t) { return uint8_t(x == 2 ? 255 : 0); });
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        EXPECT_EQ(spatialActivity(edge.get(), state), 340.0) << isaName(isa);
    }
}
