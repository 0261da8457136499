#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/blockLossSlicePictures.hpp"
#include "support/exactness.hpp"

using namespace lumaqc;

TEST(SliceExact, SameAsReferenceOnEveryPicture) {
    expectSameOnAllPictures([](const Image* p, IndicatorState& state) { return slice(p, state); }, reference::slice);
    // Bit for bit, the sign of a not-a-number included (it shows in the log).
    for (const NamedPicture& p : stress::slicePictures()) {
        const double want = reference::slice(p.get());
        for (Isa isa : runnableIsas()) {
            IndicatorState state = stateFor(isa);
            const double got = slice(p.get(), state);
            EXPECT_EQ(bitsOf(got), bitsOf(want))
                << p.name << " [" << isaName(isa) << "]: fast " << describe(got) << ", reference " << describe(want);
        }
    }
}

TEST(SliceExact, DegenerateStrips) {
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (const NamedPicture& p : stress::slicePictures()) {
            const uint64_t w = p.picture->img.w, h = p.picture->img.h;
            const double got = slice(p.get(), state);
            if (h < 48) {
                EXPECT_EQ(got, -1.0) << p.name;
            } else if (w <= 16) {
                // No horizontal partners: every share 0/0.
                EXPECT_TRUE(std::isnan(got)) << p.name << " " << describe(got);
            } else if (p.name.rfind("no matches", 0) == 0) {
                EXPECT_TRUE(std::isnan(got)) << p.name << " " << describe(got);
            } else if (p.name.rfind("rows repeat", 0) == 0) {
                EXPECT_EQ(got, 0.0) << p.name;  // every ratio 1 / 0
            } else if (p.name.rfind("columns repeat", 0) == 0) {
                // A strip with horizontal matches only: ratio 0.
                EXPECT_EQ(got, INFINITY) << p.name;
            }
        }
    }
}
