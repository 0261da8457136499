#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/blockLossSlicePictures.hpp"
#include "support/exactness.hpp"

using namespace lumaqc;

namespace {

NamedPicture find(const std::vector<NamedPicture>& pictures, const std::string& name) {
    for (const NamedPicture& p : pictures)
        if (p.name == name) return p;
    ADD_FAILURE() << "no picture " << name;
    return pictures.front();
}

// fast(p) has the bits of want in every variant.
void expectEverywhere(const NamedPicture& p, double want) {
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        const double got = blockLoss(p.get(), state);
        EXPECT_TRUE(sameResult(got, want)) << p.name << " [" << isaName(isa) << "]: " << describe(got);
    }
}

}  // namespace

TEST(BlockLossExact, SameAsReferenceOnEveryPicture) {
    expectSameOnAllPictures([](const Image* p, IndicatorState& state) { return blockLoss(p, state); }, reference::blockLoss);
    for (const NamedPicture& p : stress::blockLossPictures()) {
        const double want = reference::blockLoss(p.get());
        for (Isa isa : runnableIsas()) {
            IndicatorState state = stateFor(isa);
            const double got = blockLoss(p.get(), state);
            EXPECT_TRUE(sameResult(got, want))
                << p.name << " [" << isaName(isa) << "]: fast " << describe(got) << ", reference " << describe(want);
        }
    }
}

TEST(BlockLossExact, RunsOfTwelveWindowsAtRegionEdges) {
    const std::vector<NamedPicture> pictures = stress::blockLossPictures();
    // Four regions; with runs of 12 or 13: region (0, 0) has 2 horizontal
    // (one ending at its last column) and 2 vertical (one ending at its last
    // row), region (1, 0) 1 x 1 (the horizontal one from its first column),
    // region (0, 1) 0 x 1, region (1, 1) 1 x 1 (the vertical one from its
    // first row): (4 + 1 + 0 + 1) / 4. Runs of 11 count nowhere.
    expectEverywhere(find(pictures, "runs of 11 520x530"), 0.0);
    expectEverywhere(find(pictures, "runs of 12 520x530"), 1.5);
    expectEverywhere(find(pictures, "runs of 13 520x530"), 1.5);
    // Region (0, 0): horizontal 12 (of 12 + 12) and 255 (from column 1) ->
    // 2, vertical the same -> 2. Region (1, 0): 12, 13 and 44 -> 3
    // horizontal, no vertical. Region (0, 1): 12, 13, 44 vertical, no
    // horizontal. Region (1, 1): 15 vertical rows after the region row's
    // border (6 before it), no horizontal. 10 + 10 and 11 splits count
    // nowhere: (4 + 0 + 0 + 0) / 4.
    expectEverywhere(find(pictures, "runs split by region borders 513x513"), 1.0);
}

TEST(BlockLossExact, MagnitudeEqualToTheThresholdIsNotAbove) {
    const std::vector<NamedPicture> pictures = stress::blockLossPictures();
    for (const char* kind : {"square", "vertical line", "horizontal line"}) {
        const NamedPicture at = find(pictures, std::string(kind) + " at the threshold - 0 256x256");
        const NamedPicture under = find(pictures, std::string(kind) + " at the threshold - 4 256x256");
        // The pictures are what they claim: six times the mean magnitude is
        // 18 exactly, or just below it.
        EXPECT_EQ(stress::edgeEnergy(*at.picture), 18 * 65536 / 6) << kind;
        EXPECT_EQ(stress::edgeEnergy(*under.picture), 18 * 65536 / 6 - 4) << kind;
        // Windows of 18 are not above a threshold of 18 but above 17.9996:
        // the square's region then counts 2 x 2, a line's 1 x 1.
        const bool square = std::string(kind) == "square";
        expectEverywhere(at, 0.0);
        expectEverywhere(under, square ? 4.0 : 1.0);
    }
}

// Runs along a horizontal boundary of every length from 10 to 13 that start
// at column 0, 1 or at a region's edge, beside a vertical run, on pictures
// whose row before the boundary ends dark or bright: the window at column 0
// reaches left of the picture and must count as magnitude 0 in every variant.
TEST(BlockLossExact, RunsThatStartAtTheLeftEdgeOfTheGrid) {
    for (uint64_t w : {256u, 300u, 529u})
        for (uint64_t start : {0u, 1u, 255u, 256u})
            for (uint64_t length : {10u, 11u, 12u, 13u})
                for (uint8_t end : {uint8_t{0}, uint8_t{255}}) {
                    if (start + length >= w) continue;
                    const uint64_t boundaryRow = 32;
                    const NamedPicture p = namedPicture(
                        "run " + std::to_string(start) + "+" + std::to_string(length) + " end " + std::to_string(end),
                        w, 256, [&](uint64_t x, uint64_t y) -> uint8_t {
                            if (y == boundaryRow && x >= start && x < start + length) return 255;
                            if (y + 2 == boundaryRow && x == w - 1) return end;
                            if (x >= 16 && x < 24 && y >= 64 && y < 96) return 200;  // a vertical run
                            return 0;
                        });
                    expectEverywhere(p, reference::blockLoss(p.get()));
                }
}

// Vertical runs of 11 to 25 windows down a boundary, across the top of the
// second region row or inside it, beside a horizontal run: the run lengths
// restart at every region row in every variant as in the reference.
TEST(BlockLossExact, VerticalRunsAcrossRegionRows) {
    for (uint64_t w : {256u, 520u})
        for (uint64_t top : {240u, 250u, 256u, 300u})
            for (uint64_t length : {11u, 12u, 13u, 24u, 25u}) {
                const NamedPicture p = namedPicture(
                    "vertical " + std::to_string(top) + "+" + std::to_string(length), w, 512,
                    [&](uint64_t x, uint64_t y) -> uint8_t {
                        if (x >= 32 && x < 40 && y >= top && y < top + length) return 220;
                        if (y == 272 && x >= 40 && x < 60) return 220;  // a horizontal run in both regions' rows
                        if (y == 16 && x >= 40 && x < 60) return 220;
                        return 10;
                    });
                expectEverywhere(p, reference::blockLoss(p.get()));
            }
}
