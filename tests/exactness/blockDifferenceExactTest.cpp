// The largest change of a block mean against its literal composition, in
// every instruction-set variant: random pairs of every small size, long
// lines, one block that changes anywhere on the grid by as little or as much
// as can be, either way, and changes that cancel within a block.
#include <gtest/gtest.h>

#include <random>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {

struct PicturePair {
    StressPicture cur, prev;
};

// prev: cur with a share of its pixels replaced at random.
PicturePair scattered(StressPicture cur, uint32_t seed, uint32_t oneIn) {
    std::mt19937 gen(seed);
    const Image* img = cur.get();
    StressPicture prev = stressPicture("before", img->w, img->h, [&](uint64_t x, uint64_t y) {
        const uint32_t r = gen();
        return r % oneIn == 0 ? uint8_t(r >> 8) : img->data[y * img->w + x];
    });
    return {std::move(cur), std::move(prev)};
}

void expectSame(std::vector<PicturePair>& pairs) {
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (PicturePair& p : pairs) {
            const double want = reference::blockDifference(p.cur.get(), p.prev.get());
            const double got = blockDifference(p.cur.get(), p.prev.get(), state);
            EXPECT_TRUE(sameResult(got, want))
                << p.cur.name << " [" << isaName(isa) << "]: fast " << describe(got) << ", reference " << describe(want);
        }
    }
}

}  // namespace

TEST(BlockDifferenceExact, SameAsTheReferenceOnOddSizesAndLongLines) {
    std::vector<StressPicture> pictures = smallSizePictures();
    std::vector<StressPicture> more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    std::vector<PicturePair> pairs;
    uint32_t seed = 1;
    for (StressPicture& p : pictures) {
        pairs.push_back(scattered(p, seed, 1 + seed % 7));
        ++seed;
    }
    expectSame(pairs);
}

TEST(BlockDifferenceExact, OneBlockDiffersAnywhereOnTheGrid) {
    std::vector<PicturePair> pairs;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{8, 8}, {31, 23}, {40, 16}, {2072, 33}, {4104, 12}, {1920, 1080}}) {
        const uint64_t lastX = w / 8 - 1;
        const uint64_t lastY = h / 8 - 1;
        const std::pair<uint64_t, uint64_t> places[] = {{0, 0}, {lastX, lastY}, {lastX, 0}, {0, lastY}, {256, lastY}};
        for (auto [bx, by] : places) {
            if (bx > lastX) continue;
            // One pixel a level apart, the whole block 255 apart, and everything
            // else differing a little outside the grid.
            for (int amount : {1, 255}) {
                const auto inBlock = [=](uint64_t x, uint64_t y) { return x / 8 == bx && y / 8 == by; };
                StressPicture cur = stressPicture("block " + std::to_string(bx) + "," + std::to_string(by) + " by " +
                                                      std::to_string(amount),
                                                  w, h, [=](uint64_t x, uint64_t y) {
                                                      if (x >= w / 8 * 8 || y >= h / 8 * 8) return uint8_t(200);
                                                      if (!inBlock(x, y)) return uint8_t(x % 3 == 0 ? 0 : 7);
                                                      return uint8_t(amount == 1 && (x % 8 != 2 || y % 8 != 6)
                                                                         ? 0 : amount);
                                                  });
                StressPicture prev = stressPicture("before", w, h, [=](uint64_t x, uint64_t y) {
                    if (x >= w / 8 * 8 || y >= h / 8 * 8) return uint8_t(0);
                    return uint8_t(!inBlock(x, y) && x % 3 == 0 ? 0 : (inBlock(x, y) ? 0 : 7));
                });
                pairs.push_back({std::move(cur), std::move(prev)});
                // The same change the other way: the pictures swapped.
                StressPicture after = stressPicture("swapped", w, h, [&](uint64_t x, uint64_t y) {
                    return pairs.back().prev.get()->data[y * w + x];
                });
                StressPicture before = stressPicture("swapped before", w, h, [&](uint64_t x, uint64_t y) {
                    return pairs.back().cur.get()->data[y * w + x];
                });
                pairs.push_back({std::move(after), std::move(before)});
            }
        }
        // Every pixel changes by 255 and every block mean stays.
        pairs.push_back({stressPicture("checkerboard", w, h, [](uint64_t x, uint64_t y) { return uint8_t((x + y) % 2 ? 255 : 0); }),
                         stressPicture("inverted", w, h, [](uint64_t x, uint64_t y) { return uint8_t((x + y) % 2 ? 0 : 255); })});
    }
    expectSame(pairs);
}
