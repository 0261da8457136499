#include <gtest/gtest.h>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {
double fastLetterbox(const Image* img, IndicatorState& state) { return letterbox(img, state); }
double refLetterbox(const Image* img) { return reference::letterbox(img); }
double fastPillarbox(const Image* img, IndicatorState& state) { return pillarbox(img, state); }
double refPillarbox(const Image* img) { return reference::pillarbox(img); }

uint8_t texture(uint64_t x, uint64_t y) { return uint8_t((x * 7 + y * 3) % 220 + 20); }

// Bars of depth `top` and `bottom` rows and `left` and `right` columns, of
// levels 16 (top, left) and 0 (bottom, right), around textured content.
StressPicture barPicture(uint64_t w, uint64_t h, uint64_t top, uint64_t bottom, uint64_t left, uint64_t right) {
    const std::string name = "bars " + std::to_string(top) + "/" + std::to_string(bottom) + "/" +
                             std::to_string(left) + "/" + std::to_string(right);
    return stressPicture(name, w, h, [=](uint64_t x, uint64_t y) {
        if (y < top) return uint8_t(16);
        if (y + bottom >= h) return uint8_t(0);
        if (x < left) return uint8_t(16);
        if (x + right >= w) return uint8_t(0);
        return texture(x, y);
    });
}

// Flat rows and columns, broken by a single pixel at (x, y).
StressPicture onePixelOff(uint64_t w, uint64_t h, uint64_t x0, uint64_t y0) {
    return stressPicture("flat but (" + std::to_string(x0) + "," + std::to_string(y0) + ")", w, h,
                         [=](uint64_t x, uint64_t y) { return uint8_t(x == x0 && y == y0 ? 1 : 0); });
}

std::vector<StressPicture> barPictures() {
    std::vector<StressPicture> out = smallSizePictures();
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1920, 1080}, {130, 131}, {129, 64}, {64, 129}, {2, 2},
                        {3, 7}, {200, 1}, {1, 200}}) {
        for (int level : {0, 16, 255})
            out.push_back(stressPicture("uniform " + std::to_string(level), w, h,
                                        [=](uint64_t, uint64_t) { return uint8_t(level); }));
        for (uint64_t depth : {uint64_t{1}, uint64_t{63}, uint64_t{64}, uint64_t{65}, h / 2 - (h > 1 ? 1 : 0), h / 2}) {
            out.push_back(barPicture(w, h, depth, depth, 0, 0));
            out.push_back(barPicture(w, h, depth, depth + 1, 0, 0));
            out.push_back(barPicture(w, h, depth + 2, depth, 0, 0));
        }
        for (uint64_t depth : {uint64_t{1}, uint64_t{63}, uint64_t{64}, uint64_t{65}, w / 2 - (w > 1 ? 1 : 0), w / 2,
                               w / 2 + 1}) {
            out.push_back(barPicture(w, h, 0, 0, depth, depth));
            out.push_back(barPicture(w, h, 0, 0, depth, 0));
            out.push_back(barPicture(w, h, 0, 0, 0, depth));
            out.push_back(barPicture(w, h, 7, 7, depth, depth));
        }
        // A single differing pixel: first, last or middle of the top, the
        // bottom and the middle row, and in the column just past each span.
        for (uint64_t y : {uint64_t{0}, h / 2, h - 1, h / 3})
            for (uint64_t x : {uint64_t{0}, uint64_t{1}, uint64_t{63}, uint64_t{64}, uint64_t{65}, w / 2 - 1, w / 2,
                               w / 2 + 1, w - 1})
                if (x < w && y < h) out.push_back(onePixelOff(w, h, x, y));
    }
    std::vector<StressPicture> more = longLinePictures();
    out.insert(out.end(), more.begin(), more.end());
    return out;
}
}  // namespace

TEST(LetterboxExact, SameBitsAsTheReferenceOnAllPictures) {
    expectSameOnAllPictures(fastLetterbox, refLetterbox);
    std::vector<StressPicture> pictures = barPictures();
    expectSameOnStressPictures(pictures, fastLetterbox, refLetterbox);
}

TEST(PillarboxExact, SameBitsAsTheReferenceOnAllPictures) {
    expectSameOnAllPictures(fastPillarbox, refPillarbox);
    std::vector<StressPicture> pictures = barPictures();
    expectSameOnStressPictures(pictures, fastPillarbox, refPillarbox);
}

TEST(LetterboxExact, HandCountedDepths) {
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        // 140 flat rows at the top and at the bottom of 1080: 140 / 540.
        StressPicture hd = barPicture(1920, 1080, 140, 140, 0, 0);
        EXPECT_EQ(letterbox(hd.get(), state), 140.0 / 540.0) << isaName(isa);
        // 100 flat columns at the left of 1920: columns 0..98 equal their
        // right neighbour, 99 / 960.
        StressPicture left = barPicture(1920, 1080, 0, 0, 100, 0);
        EXPECT_EQ(pillarbox(left.get(), state), 99.0 / 960.0) << isaName(isa);
        // The step hides in the bottom row, at the last column examined.
        StressPicture late = onePixelOff(1920, 1080, 960, 1079);
        EXPECT_EQ(pillarbox(late.get(), state), 959.0 / 960.0) << isaName(isa);
        EXPECT_EQ(letterbox(late.get(), state), 0.0) << isaName(isa);
    }
}
