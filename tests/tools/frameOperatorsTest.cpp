#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "support/pictures.hpp"
#include "tools/activityOperators.hpp"

using namespace lumaqc;

namespace {
double plainSquareSum(const Image& a, const Image& b) {
    double sum = 0.0;
    for (uint64_t i = 0; i < a.w * a.h; ++i) {
        const double d = static_cast<double>(a.data[i]) - static_cast<double>(b.data[i]);
        sum += d * d;
    }
    return sum;
}

// The driver's two block accumulators and a zero-filled means picture.
struct FlickerGrid {
    Image counts, states;
    ImageDouble means;
    FlickerGrid(uint64_t gw, uint64_t gh)
        : counts(callocImage(gw, gh)), states(callocImage(gw, gh)), means(callocImageDouble(gw, gh)) {}
    ~FlickerGrid() {
        freeImage(&counts);
        freeImage(&states);
        freeImageDouble(&means);
    }
    void clearMeans() {
        for (uint64_t i = 0; i < means.w * means.h; ++i) means.data[i] = 0.0;
    }
    void run(TestPicture& cur, TestPicture& prev, int32_t blockSize = 8, double threshold = 0.0111) {
        clearMeans();
        calculateFlickering(cur.get(), prev.get(), &counts, &states, &means, blockSize, threshold);
    }
};
}  // namespace

TEST(TemporalAct, IdenticalSmallAndKnownPictures) {
    TestPicture a(37, 23), b(37, 23);
    a.randomise(5);
    b.randomise(5);
    EXPECT_EQ(temporalAct(a.get(), b.get()), 0.0);

    uint8_t cur[4] = {10, 10, 10, 10};
    uint8_t prev[4] = {10, 10, 10, 14};
    Image c = makeImage(2, 2, cur), p = makeImage(2, 2, prev);
    EXPECT_EQ(temporalAct(&c, &p), 4.0);
    EXPECT_EQ(temporalAct(&p, &c), 4.0);

    TestPicture r(37, 23);
    r.randomise(6);
    EXPECT_EQ(bitsOf(temporalAct(a.get(), r.get())), bitsOf(std::sqrt(plainSquareSum(a.img, r.img))));
}

TEST(TemporalAct, SumsBeyond32BitsAndBufferOrder) {
    // 1920 x 1080 pixels of difference 255 sum to about 1.35e11.
    TestPicture black(1920, 1080, 0), white(1920, 1080, 255);
    EXPECT_EQ(bitsOf(temporalAct(white.get(), black.get())), bitsOf(std::sqrt(65025.0 * 1920.0 * 1080.0)));

    // Only the current picture's size counts; positions are compared in buffer order.
    uint8_t cur[4] = {1, 2, 3, 4};
    uint8_t prev[6] = {4, 3, 2, 1, 200, 200};
    Image c = makeImage(4, 1, cur), p = makeImage(3, 2, prev);
    EXPECT_EQ(temporalAct(&c, &p), std::sqrt(9.0 + 1.0 + 1.0 + 9.0));

    Image empty = makeImage(0, 7, cur);
    EXPECT_EQ(temporalAct(&empty, &p), 0.0);
}

TEST(CalculateFlickering, MeansAreMeanAbsoluteDifferencesOfWholeBlocks) {
    // 21 x 19 pixels hold a 2 x 2 grid of 8 x 8 blocks; the rest takes no part.
    TestPicture cur(21, 19), prev(21, 19);
    cur.randomise(11);
    prev.randomise(12);
    FlickerGrid g(2, 2);
    g.run(cur, prev);
    for (uint64_t by = 0; by < 2; ++by)
        for (uint64_t bx = 0; bx < 2; ++bx) {
            int sum = 0;
            for (uint64_t y = by * 8; y < by * 8 + 8; ++y)
                for (uint64_t x = bx * 8; x < bx * 8 + 8; ++x) sum += std::abs(cur.at(x, y) - prev.at(x, y));
            EXPECT_EQ(g.means.data[by * 2 + bx], sum / 64.0) << bx << "," << by;
        }

    // Differences right of and below the grid change nothing.
    TestPicture a(83, 66, 9), b(83, 66, 9);
    for (uint64_t y = 0; y < 66; ++y)
        for (uint64_t x = 80; x < 83; ++x) b.at(x, y) = 200;
    for (uint64_t x = 0; x < 83; ++x) b.at(x, 64) = b.at(x, 65) = 0;
    FlickerGrid h(10, 8);
    h.run(a, b);
    for (uint64_t i = 0; i < 80; ++i) {
        EXPECT_EQ(h.means.data[i], 0.0);
        EXPECT_EQ(h.counts.data[i], 0);
        EXPECT_EQ(h.states.data[i], 0);
    }

    // Means are added to what the picture holds.
    FlickerGrid k(2, 2);
    for (int i = 0; i < 4; ++i) k.means.data[i] = 64.0;
    calculateFlickering(cur.get(), prev.get(), &k.counts, &k.states, &k.means, 8, 0.0111);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(k.means.data[i], 1.0 + g.means.data[i]);
}

TEST(CalculateFlickering, StatesSwitchAndCountsWrap) {
    TestPicture prev(16, 16, 50), cur(16, 16, 50);
    cur.at(13, 2) = 51;  // one pixel differing by 1 in block (1, 0)
    FlickerGrid g(2, 2);
    g.run(cur, prev);
    EXPECT_EQ(g.means.data[1], 1.0 / 64.0);
    const std::vector<uint8_t> one = {0, 1, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(g.states.data, g.states.data + 4), one);
    EXPECT_EQ(std::vector<uint8_t>(g.counts.data, g.counts.data + 4), one);

    // Still changing: no new switch while the block keeps differing.
    g.run(cur, prev);
    EXPECT_EQ(std::vector<uint8_t>(g.counts.data, g.counts.data + 4), one);

    // Identical again: back to still, second switch; still blocks stay still.
    g.run(prev, prev);
    EXPECT_EQ(std::vector<uint8_t>(g.states.data, g.states.data + 4), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(std::vector<uint8_t>(g.counts.data, g.counts.data + 4), (std::vector<uint8_t>{0, 2, 0, 0}));

    // The count is one byte and wraps.
    g.counts.data[3] = 255;
    cur.at(15, 15) = 0;
    g.run(cur, prev);
    EXPECT_EQ(g.counts.data[3], 0);
    EXPECT_EQ(g.states.data[3], 1);

    // Block size 2 and threshold 0.3: a mean of 0.25 neither turns a still
    // block changing nor a changing block still; 0.5 turns a still one changing.
    TestPicture p6(6, 2, 0), c6(6, 2, 0);
    c6.at(0, 0) = 1;                // block 0: mean 0.25, changing
    c6.at(2, 0) = c6.at(3, 1) = 1;  // block 1: mean 0.5, still
    c6.at(5, 1) = 1;                // block 2: mean 0.25, still
    FlickerGrid s(3, 1);
    s.states.data[0] = 1;
    s.run(c6, p6, 2, 0.3);
    EXPECT_EQ(std::vector<double>(s.means.data, s.means.data + 3), (std::vector<double>{0.25, 0.5, 0.25}));
    EXPECT_EQ(std::vector<uint8_t>(s.states.data, s.states.data + 3), (std::vector<uint8_t>{1, 1, 0}));
    EXPECT_EQ(std::vector<uint8_t>(s.counts.data, s.counts.data + 3), (std::vector<uint8_t>{0, 1, 0}));

    // A mean equal to the threshold is enough.
    FlickerGrid e(3, 1);
    e.run(c6, p6, 2, 0.25);
    EXPECT_EQ(std::vector<uint8_t>(e.states.data, e.states.data + 3), (std::vector<uint8_t>{1, 1, 1}));
}

TEST(CalculateFlickering, EmptyGridTouchesNothing) {
    // Pictures narrower or lower than one block give a grid without blocks.
    for (auto [w, h, gw, gh] : {std::array<uint64_t, 4>{7, 30, 0, 3}, {40, 7, 5, 0}}) {
        TestPicture cur(w, h, 1), prev(w, h, 2);
        uint8_t count = 77, state = 1;
        double mean = 5.0;
        Image counts = makeImage(gw, gh, &count), states = makeImage(gw, gh, &state);
        ImageDouble means = makeImageDouble(gw, gh, &mean);
        calculateFlickering(cur.get(), prev.get(), &counts, &states, &means, 8, 0.0111);
        EXPECT_EQ(count, 77);
        EXPECT_EQ(state, 1);
        EXPECT_EQ(mean, 5.0);
    }
}
