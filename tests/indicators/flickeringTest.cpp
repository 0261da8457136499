// flickering counts its calls in the stream's state: each run of calls has a
// fresh one. The previous picture is all 0; in each call the
// current picture differs from it by 1 in one pixel of every block chosen to
// change, which is enough for the block to count as changing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/callSequences.hpp"

using namespace lumaqc;

namespace {
// Block (bx, by) of a gw-wide grid changes on the given call (counted from 1).
using Pattern = std::function<bool(int call, uint64_t bx, uint64_t by)>;

struct FlickerRun {
    TestPicture prev, cur;
    Image counts, states;
    IndicatorState indicatorState = stateFor(bestSupportedIsa());
    int callsMade = 0;
    FlickerRun(uint64_t w, uint64_t h)
        : prev(w, h, 0), cur(w, h, 0), counts(callocImage(w >> 3, h >> 3)), states(callocImage(w >> 3, h >> 3)) {}
    ~FlickerRun() {
        freeImage(&counts);
        freeImage(&states);
    }
    double call(const Pattern& changes) {
        ++callsMade;
        std::memset(cur.pixels.data(), 0, cur.pixels.size());
        for (uint64_t by = 0; by < counts.h; ++by)
            for (uint64_t bx = 0; bx < counts.w; ++bx)
                if (changes(callsMade, bx, by)) cur.at(bx * 8 + (bx + by) % 8, by * 8 + (bx * 3) % 8) = 1;
        return flickering(cur.get(), prev.get(), &counts, &states, indicatorState);
    }
    std::vector<double> calls(int n, const Pattern& changes) {
        std::vector<double> got;
        for (int i = 0; i < n; ++i) got.push_back(call(changes));
        return got;
    }
};

// Seven -1.0 and then the report: one period as flickering returns it.
std::vector<double> period(double report) {
    std::vector<double> values(7, -1.0);
    values.push_back(report);
    return values;
}

std::vector<double> concat(std::initializer_list<std::vector<double>> parts) {
    std::vector<double> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

double zeroOverZero() {
    volatile double zero = 0.0;
    return zero / zero;
}

const Pattern kNever = [](int, uint64_t, uint64_t) { return false; };
const Pattern kAlways = [](int, uint64_t, uint64_t) { return true; };
}  // namespace

TEST(Flickering, ReportsOnEveryEighthCallOnly) {
    // 80 x 64 pixels: 80 blocks, of which the 2 most switching are averaged.
    expectCallsPass([] {
        FlickerRun run(80, 64);
        std::vector<double> got = run.calls(17, kNever);
        return mismatches(got, concat({period(0.0), period(0.0), {-1.0}}));
    });
    // Every block changes on every call: one switch per block and period,
    // however long it keeps changing; states start still again each period.
    expectCallsPass([] {
        FlickerRun run(80, 64);
        std::vector<double> got = run.calls(16, kAlways);
        std::vector<double> more = run.calls(8, kNever);  // counts were cleared too
        got.insert(got.end(), more.begin(), more.end());
        return mismatches(got, concat({period(0.125), period(0.125), period(0.0)}));
    });
}

TEST(Flickering, AlternatingBlocksSwitchOnEveryCall) {
    expectCallsPass([] {
        FlickerRun run(80, 64);
        // Blocks 0 and 1 differ on the odd calls of the period: 8 switches each.
        std::vector<double> got =
            run.calls(8, [](int c, uint64_t bx, uint64_t by) { return by == 0 && bx < 2 && c % 2 == 1; });
        // The same starting identical (even calls): 7 switches each.
        auto p2 = run.calls(8, [](int c, uint64_t bx, uint64_t by) { return by == 0 && bx < 2 && c % 2 == 0; });
        // A single alternating block among two selected: (8 + 0) / 16.
        auto p3 = run.calls(8, [](int c, uint64_t bx, uint64_t by) { return bx == 5 && by == 6 && c % 2 == 1; });
        // A block that differs by 1 in one pixel on every call switches once: (1 + 0) / 16.
        auto p4 = run.calls(8, [](int, uint64_t bx, uint64_t by) { return bx == 9 && by == 7; });
        for (auto* p : {&p2, &p3, &p4}) got.insert(got.end(), p->begin(), p->end());
        return mismatches(got, concat({period(1.0), period(14.0 / 16.0), period(0.5), period(1.0 / 16.0)}));
    });
}

TEST(Flickering, ThreePercentOfTheBlocksAreSelected) {
    // 1920 x 1080: 240 x 135 = 32400 blocks, of which 972 are selected.
    expectCallsPass([] {
        FlickerRun run(1920, 1080);
        // One block with 8 switches, every other with none: 8 / (8 * 972).
        std::vector<double> got =
            run.calls(8, [](int c, uint64_t bx, uint64_t by) { return bx == 17 && by == 33 && c % 2 == 1; });
        // Ten blocks with 8 switches, all the others changing throughout (1
        // switch): the 972 largest counts sum to 10 * 8 + 962.
        auto p2 = run.calls(8, [](int c, uint64_t bx, uint64_t by) { return by != 100 || bx >= 10 || c % 2 == 1; });
        got.insert(got.end(), p2.begin(), p2.end());
        return mismatches(got, concat({period(8.0 / 7776.0), period(1042.0 / 7776.0)}));
    });
    // 34 blocks select one, 33 and 30 (48 x 40) none: 0 / 0.
    expectCallsPass([] {
        FlickerRun run(272, 8);
        auto got = run.calls(8, [](int c, uint64_t bx, uint64_t) { return bx == 33 && c % 2 == 1; });
        return mismatches(got, period(1.0));
    });
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{264, 8}, {48, 40}}) {
        expectCallsPass([w = w, h = h] {
            FlickerRun run(w, h);
            std::vector<double> got = run.calls(9, [](int c, uint64_t bx, uint64_t) { return bx == 0 && c % 2 == 1; });
            return mismatches(got, concat({period(zeroOverZero()), {-1.0}}));
        });
    }
}

TEST(Flickering, CompareElementsSortsBytesLargestFirst) {
    const uint8_t three = 3, seven = 7, zero = 0, top = 255;
    EXPECT_EQ(compareElements(&three, &seven), 4);
    EXPECT_EQ(compareElements(&seven, &three), -4);
    EXPECT_EQ(compareElements(&seven, &seven), 0);
    EXPECT_EQ(compareElements(&zero, &top), 255);
    EXPECT_EQ(compareElements(&top, &zero), -255);

    uint8_t bytes[] = {3, 0, 255, 8, 1, 8, 200, 2};
    std::qsort(bytes, sizeof bytes, 1, compareElements);
    const std::vector<uint8_t> want = {255, 200, 8, 8, 3, 2, 1, 0};
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + sizeof bytes), want);
}
