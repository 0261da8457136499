// The fast combing share and field order must give the same bits as their
// literal pixel-by-pixel compositions in every instruction-set variant.
#include <gtest/gtest.h>

#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {

double fastCombing(const Image* img, IndicatorState& state) { return combing(img, state); }
double refCombing(const Image* img) { return reference::combing(img); }

// A textured square at x = position on a smooth background.
uint8_t scene(uint64_t x, uint64_t y, int64_t position) {
    const int64_t dx = static_cast<int64_t>(x) - position;
    const bool inside = dx >= 0 && dx < 40 && y >= 8 && y < 60;
    return uint8_t(inside ? 200 - (x * 3 + y) % 17 : 30 + (x + 2 * y) % 23);
}

// The frame of two fields of a moving square: the top field (even rows) at
// time `top`, the bottom field at time `bottom`.
StressPicture woven(uint64_t w, uint64_t h, int64_t top, int64_t bottom) {
    return stressPicture("woven " + std::to_string(top) + "/" + std::to_string(bottom), w, h,
                         [=](uint64_t x, uint64_t y) { return scene(x, y, 6 * (y % 2 ? bottom : top)); });
}

}  // namespace

TEST(CombingExact, SameBitsOnTheSharedPicturesSmallSizesAndLongLines) {
    expectSameOnAllPictures(fastCombing, refCombing);
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    expectSameOnStressPictures(pictures, fastCombing, refCombing);
}

TEST(CombingExact, SameBitsOnWovenProgressiveAndStripedPictures) {
    std::vector<StressPicture> pictures;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1, 64}, {64, 1}, {8, 5}, {9, 8}, {100, 70}, {1023, 66},
                        {1024, 64}, {1025, 67}, {2055, 19}}) {
        for (int64_t t : {0, 1, 3}) {
            pictures.push_back(woven(w, h, t, t + 1));
            pictures.push_back(woven(w, h, t + 1, t));
            pictures.push_back(woven(w, h, t, t));
        }
        pictures.push_back(stressPicture("period-2 stripes", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(y % 2 ? 60 + x % 9 : 150 - x % 7);
        }));
        pictures.push_back(stressPicture("thin lines", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(y % 7 == 3 ? 240 : 20 + x % 5);
        }));
        // Field differences just around the distance limit.
        for (int step : {COMB_DIFFERENCE, COMB_DIFFERENCE + 1, 2 * COMB_DIFFERENCE + 1})
            pictures.push_back(stressPicture("fields " + std::to_string(step) + " apart", w, h, [=](uint64_t x, uint64_t y) {
                return uint8_t(100 + (y % 2 ? step : 0) + (x / 3 + y / 2) % 3);
            }));
    }
    expectSameOnStressPictures(pictures, fastCombing, refCombing);
}

TEST(CombingExact, FieldOrderSameBitsOnMovingFieldsNoiseAndSmallSizes) {
    // The frames of both field orders and of progressive motion, each against
    // the frame before; random pictures against each other.
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1, 1}, {5, 2}, {1, 9}, {9, 3}, {130, 70}, {70001, 4},
                            {3, 66001}, {1920, 1080}}) {
            const std::string size = std::to_string(w) + "x" + std::to_string(h);
            std::vector<std::pair<StressPicture, StressPicture>> pairs = {
                {woven(w, h, 2, 3), woven(w, h, 0, 1)},
                {woven(w, h, 3, 2), woven(w, h, 1, 0)},
                {woven(w, h, 2, 2), woven(w, h, 1, 1)},
                {woven(w, h, 1, 1), woven(w, h, 1, 1)},
                {randomStressPicture("random", w, h, static_cast<uint32_t>(w + h)),
                 randomStressPicture("random", w, h, static_cast<uint32_t>(w * h + 1))},
            };
            for (auto& [cur, prev] : pairs) {
                const double want = reference::fieldOrder(cur.get(), prev.get());
                const double got = fieldOrder(cur.get(), prev.get(), state);
                EXPECT_TRUE(sameResult(got, want)) << cur.name << " after " << prev.name << " [" << isaName(isa)
                                                   << "]: fast " << describe(got) << ", reference " << describe(want);
            }
        }
    }
}

// Blocks whose combed pixels number about COMB_PIXELS: even rows flat, odd
// rows bright at random columns, so that an even-row pixel is combed where the
// odd rows on both sides of it are bright (half the pixels on average), in
// every block of a 32-column group and in the columns after the last group.
TEST(CombingExact, BlocksAroundTheCombedPixelCount) {
    std::vector<StressPicture> pictures;
    for (uint64_t w : {32u, 40u, 64u, 88u, 1000u})
        for (uint32_t seed : {1u, 2u, 3u}) {
            std::vector<uint8_t> bright(w * 41);
            std::mt19937 gen(seed * 1000 + static_cast<uint32_t>(w));
            for (uint8_t& b : bright) b = (gen() % 1000) < 707 ? 1 : 0;  // both sides bright: about half
            pictures.push_back(stressPicture("random fields " + std::to_string(seed), w, 40,
                                             [=](uint64_t x, uint64_t y) {
                                                 return uint8_t(y % 2 == 1 && bright[y * w + x] ? 200 : 100);
                                             }));
        }
    expectSameOnStressPictures(pictures, fastCombing, refCombing);
}
