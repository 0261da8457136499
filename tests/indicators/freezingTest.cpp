// freezing counts frozen frames in the stream's state: each sequence runs on
// a fresh one.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/callSequences.hpp"

using namespace lumaqc;

namespace {
struct Frame {
    uint8_t blackout;
    double temporalActivity;
};

// Checks the flags of one run, starting from a zero count.
void expectFlags(double fps, const std::vector<Frame>& frames, const std::vector<int>& want) {
    expectCallsPass([&] {
        std::string failure;
        IndicatorState state;
        for (size_t i = 0; i < frames.size(); ++i) {
            const int got = freezing(frames[i].blackout, frames[i].temporalActivity, fps, state);
            if (got != want[i])
                failure += "fps " + std::to_string(fps) + ", call " + std::to_string(i + 1) + ": got " +
                           std::to_string(got) + ", want " + std::to_string(want[i]) + "\n";
        }
        return failure;
    });
}
}  // namespace

TEST(Freezing, FlagRisesOnTheThirdFrozenFrameAt25) {
    expectFlags(25.0, {{0, 0.0}, {0, 0.0}, {0, 0.0}, {0, 0.0}, {0, 1.2}, {0, 0.0}}, {0, 0, 1, 1, 0, 0});
    // After a change the count starts again from one.
    expectFlags(25.0, {{0, 0.0}, {0, 0.0}, {0, 0.0}, {0, 3.0}, {0, 0.0}, {0, 0.0}, {0, 0.0}}, {0, 0, 1, 0, 0, 0, 1});
}

TEST(Freezing, BlackFramesTinyChangesAndNotANumberBreakTheCount) {
    // A black still frame is no freeze and resets the count.
    expectFlags(25.0, {{0, 0.0}, {0, 0.0}, {0, 0.0}, {1, 0.0}, {0, 0.0}, {0, 0.0}, {0, 0.0}}, {0, 0, 1, 0, 0, 0, 1});
    expectFlags(25.0, {{0, 0.0}, {0, 0.0}, {1, 0.0}, {0, 0.0}, {0, 0.0}}, {0, 0, 0, 0, 0});
    // Only an exact 0 is frozen.
    expectFlags(25.0, {{0, 0.0}, {0, 0.0}, {0, 1e-9}, {0, 0.0}, {0, 0.0}, {0, 0.0}}, {0, 0, 0, 0, 0, 1});
    expectFlags(10.0, {{0, 0.0}, {0, std::nan("")}, {0, 1e-300}, {0, 0.0}}, {1, 0, 0, 1});
}

TEST(Freezing, TheFrameRateSetsTheFrozenFramesNeeded) {
    const std::vector<Frame> still(7, Frame{0, 0.0});
    expectFlags(10.0, still, {1, 1, 1, 1, 1, 1, 1});
    expectFlags(20.0, still, {0, 1, 1, 1, 1, 1, 1});
    expectFlags(29.97, still, {0, 0, 1, 1, 1, 1, 1});
    expectFlags(50.0, still, {0, 0, 0, 0, 1, 1, 1});
    expectFlags(60.0, still, {0, 0, 0, 0, 0, 1, 1});
    // At 10 frames per second every frozen frame is flagged, every change is not.
    expectFlags(10.0, {{0, 0.0}, {0, 5.0}, {0, 0.0}, {1, 0.0}}, {1, 0, 1, 0});
}

TEST(Freezing, ARateOfZeroOrBelowFlagsEveryFrame) {
    const std::vector<Frame> mixed = {{0, 0.0}, {0, 5.0}, {1, 0.0}, {1, 7.5}, {0, 0.0}};
    expectFlags(0.0, mixed, {1, 1, 1, 1, 1});
    expectFlags(-25.0, mixed, {1, 1, 1, 1, 1});
}
