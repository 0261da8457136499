#include <gtest/gtest.h>

#include <random>

#include "indicators/bands.hpp"
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

// The Sobel energy of any range of rows, in every variant, against the sum of
// Gx^2 + Gy^2 written out pixel by pixel: widths around the 16-column strips
// (the last strip overlaps the one before by 0 to 15 columns), ranges longer
// than the rows a 32-bit lane holds, and the strongest gradients.
TEST(SpatialActivityExact, EnergyOfAnyRowRangeIsTheSumOfTheSquaredGradients) {
    auto literal = [](const Image* img, uint64_t first, uint64_t end) {
        uint64_t energy = 0;
        const uint64_t w = img->w;
        auto at = [&](uint64_t x, uint64_t y) { return static_cast<int64_t>(img->data[y * w + x]); };
        for (uint64_t y = first; y < end; ++y)
            for (uint64_t x = 1; x + 1 < w; ++x) {
                const int64_t gx = (at(x + 1, y - 1) + 2 * at(x + 1, y) + at(x + 1, y + 1)) -
                                   (at(x - 1, y - 1) + 2 * at(x - 1, y) + at(x - 1, y + 1));
                const int64_t gy = (at(x - 1, y + 1) + 2 * at(x, y + 1) + at(x + 1, y + 1)) -
                                   (at(x - 1, y - 1) + 2 * at(x, y - 1) + at(x + 1, y - 1));
                energy += static_cast<uint64_t>(gx * gx + gy * gy);
            }
        return energy;
    };
    struct Case {
        uint64_t w, h, first, end;
    };
    const Case cases[] = {{3, 5, 1, 4},      {17, 9, 1, 8},     {18, 9, 1, 8},    {19, 9, 2, 7},
                          {33, 20, 1, 19},   {34, 20, 5, 6},    {49, 40, 1, 39},  {50, 300, 1, 299},
                          {97, 600, 1, 599}, {130, 520, 7, 519}, {1921, 12, 1, 11}, {40, 261, 3, 260}};
    for (const Case& c : cases) {
        std::mt19937 gen(static_cast<uint32_t>(c.w * 1000 + c.h));
        std::vector<StressPicture> pictures;
        pictures.push_back(stressPicture("random", c.w, c.h, [&](uint64_t, uint64_t) { return uint8_t(gen()); }));
        pictures.push_back(stressPicture("two-pixel checks", c.w, c.h, [](uint64_t x, uint64_t y) {
            return uint8_t(((x / 2) + (y / 2)) % 2 ? 255 : 0);
        }));
        pictures.push_back(stressPicture("single bright columns", c.w, c.h,
                                         [](uint64_t x, uint64_t) { return uint8_t(x % 17 == 16 ? 255 : 0); }));
        for (StressPicture& picture : pictures) {
            const uint64_t expected = literal(picture.get(), c.first, c.end);
            for (Isa isa : runnableIsas())
                EXPECT_EQ(sobelEnergyRows(isa, picture.get()->data, c.w, c.first, c.end), expected)
                    << picture.name << " rows " << c.first << "-" << c.end << " " << isaName(isa);
        }
    }
}
