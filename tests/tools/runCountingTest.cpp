#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/refusals.hpp"
#include "support/toolkit.hpp"
#include "tools/runCounting.hpp"

using namespace lumaqc;

namespace {
// An exactly sized 32-bit picture, zero-filled.
struct Pic {
    std::vector<int32_t> v;
    Image32 p;
    Pic(uint64_t w, uint64_t h) : v(static_cast<size_t>(w * h), 0), p{w, h, v.data()} {}
    int32_t& at(uint64_t x, uint64_t y) { return v[static_cast<size_t>(y * p.w + x)]; }
    // Sets pixels first..last (inclusive) of row y to value.
    void row(uint64_t y, uint64_t first, uint64_t last, int32_t value) {
        for (uint64_t x = first; x <= last; ++x) at(x, y) = value;
    }
    void column(uint64_t x, uint64_t first, uint64_t last, int32_t value) {
        for (uint64_t y = first; y <= last; ++y) at(x, y) = value;
    }
};
constexpr int32_t kAbove = 10;
constexpr double kThreshold = 5.0;
}  // namespace

TEST(CountSeqsH, RunsPerCellRowSegment) {
    // Two cells of 256 x 16 side by side, two cell rows; the source is larger
    // than the grid on the right and at the bottom.
    Pic src(520, 35);
    src.row(0, 10, 30, kAbove);                  // one run of 21
    src.row(1, 40, 51, kAbove);                  // two runs of 12
    src.row(1, 60, 71, kAbove);
    src.row(2, 100, 110, kAbove);                // a run of 11
    src.row(3, 0, 23, kAbove);                   // 12, the threshold itself, 11 more
    src.at(12, 3) = 5;
    src.row(4, 246, 265, kAbove);                // 20 split into 10 + 10 by the cell border
    src.row(5, 300, 400, -kAbove);               // below the threshold
    src.row(6, 300, 400, kAbove);                // cell (1, 0)
    src.row(20, 505, 519, kAbove);               // 7 pixels inside the grid, the rest right of it
    src.row(21, 256, 267, kAbove);               // cell (1, 1), exactly 12
    src.row(33, 0, 100, kAbove);                 // below the grid
    Pic dest(2, 2);
    EXPECT_TRUE(countSeqsH(&src.p, &dest.p, 256, 16, 12, kThreshold).ok());
    EXPECT_EQ(dest.v, (std::vector<int32_t>{1 + 2 + 1, 1, 0, 1}));

    // Counts add onto what the destination holds.
    EXPECT_TRUE(countSeqsH(&src.p, &dest.p, 256, 16, 12, kThreshold).ok());
    EXPECT_EQ(dest.v, (std::vector<int32_t>{8, 2, 0, 2}));
}

TEST(CountSeqsH, MinimumLengthAndThresholdEdgeCases) {
    Pic src(8, 2);
    const int32_t row0[8] = {6, 0, 6, 6, 5, 6, 6, 6};
    for (int x = 0; x < 8; ++x) src.at(x, 0) = row0[x];
    src.row(1, 0, 7, 6);
    // minRunLength 1: every maximal run of a row segment once (cells 4 wide, one row high).
    Pic dest(2, 2);
    EXPECT_TRUE(countSeqsH(&src.p, &dest.p, 4, 1, 1, 5.0).ok());
    EXPECT_EQ(dest.v, (std::vector<int32_t>{2, 1, 1, 1}));
    // A threshold of 6 or a NaN threshold: nothing is above it.
    Pic none(2, 2);
    EXPECT_TRUE(countSeqsH(&src.p, &none.p, 4, 1, 1, 6.0).ok());
    EXPECT_TRUE(countSeqsH(&src.p, &none.p, 4, 1, 1, std::nan("")).ok());
    // minRunLength 0 or below: nothing ever counts.
    EXPECT_TRUE(countSeqsH(&src.p, &none.p, 4, 1, 0, 0.0).ok());
    EXPECT_TRUE(countSeqsH(&src.p, &none.p, 4, 1, -3, 0.0).ok());
    EXPECT_EQ(none.v, (std::vector<int32_t>{0, 0, 0, 0}));
    // The threshold compares as a double: 0 is above -0.5, so row 0 is one run of 8.
    Pic half(1, 1);
    EXPECT_TRUE(countSeqsH(&src.p, &half.p, 8, 1, 8, -0.5).ok());
    EXPECT_EQ(half.v[0], 1);
}

TEST(CountSeqsV, RunsPerCellColumnAreCutAtCellRows) {
    Pic src(33, 520);  // grid of 2 x 2 cells of 16 x 256; column 32 and rows 512.. are outside it
    Pic dest(2, 2);
    Pic lengths(32, 1);
    src.column(3, 250, 270, kAbove);   // 6 rows in cell row 0, 15 in cell row 1
    src.column(20, 244, 255, kAbove);  // exactly the last 12 rows of cell row 0
    src.column(21, 100, 110, kAbove);  // 11 rows
    src.column(22, 300, 311, kAbove);  // 12 rows, interrupted by the threshold itself
    src.at(22, 306) = 5;
    src.column(32, 0, 100, kAbove);    // right of the grid
    src.column(5, 505, 519, kAbove);   // 7 of them inside the grid
    EXPECT_TRUE(countSeqsV(&src.p, &dest.p, &lengths.p, 16, 256, 12, kThreshold).ok());
    EXPECT_EQ(dest.v, (std::vector<int32_t>{0, 1, 1, 0}));
    for (int32_t v : lengths.v) EXPECT_EQ(v, 0);

    EXPECT_TRUE(countSeqsV(&src.p, &dest.p, &lengths.p, 16, 256, 12, kThreshold).ok());
    EXPECT_EQ(dest.v, (std::vector<int32_t>{0, 2, 2, 0}));
}

TEST(CountSeqsV, SingleRowCellsCountEveryPixelAboveTheThreshold) {
    Pic src(6, 3);
    const int32_t values[18] = {9, 9, 0, 5, 6, 7, 0, 0, 0, 6, 6, 6, 7, 8, 9, 1, 2, 3};
    for (int i = 0; i < 18; ++i) src.v[i] = values[i];
    Pic dest(2, 3);
    Pic lengths(3, 2);  // any shape with enough elements
    EXPECT_TRUE(countSeqsV(&src.p, &dest.p, &lengths.p, 3, 1, 1, 5.0).ok());
    EXPECT_EQ(dest.v, (std::vector<int32_t>{2, 2, 0, 3, 3, 0}));
    for (int32_t v : lengths.v) EXPECT_EQ(v, 0);

    // An empty grid touches nothing, the run lengths included.
    Pic empty(0, 3);
    lengths.v.assign(6, 4);
    EXPECT_TRUE(countSeqsV(&src.p, &empty.p, &lengths.p, 3, 1, 1, 5.0).ok());
    EXPECT_EQ(lengths.v, std::vector<int32_t>(6, 4));
}

TEST(TempCountSeqsH, FlatSequenceWithTheEndSearchBoundedByTheWidth) {
    Pic one(6, 1);
    const int32_t row[6] = {5, 8, 8, 8, 1, 8};
    for (int i = 0; i < 6; ++i) one.v[i] = row[i];
    // Positions 1..3 plus the 1 that ends them: length 4; position 5 alone: length 1.
    EXPECT_EQ(tempCountSeqsH(&one.p, 0, 5, 0, 0, 4), 1);
    EXPECT_EQ(tempCountSeqsH(&one.p, 0, 5, 0, 0, 1), 2);
    EXPECT_EQ(tempCountSeqsH(&one.p, 0, 5, 0, 0, 5), 0);

    // Beyond the first row the end search stops at once: every pixel above
    // the threshold is a run of length 1.
    Pic two(3, 2);
    two.v = {1, 1, 1, 9, 9, 9};
    two.p.data = two.v.data();
    EXPECT_EQ(tempCountSeqsH(&two.p, 0, 5, 0, 0, 2), 0);
    EXPECT_EQ(tempCountSeqsH(&two.p, 0, 5, 0, 0, 1), 3);

    Image32 empty = makeImage32(0, 4, nullptr);
    EXPECT_EQ(tempCountSeqsH(&empty, 0, 5, 0, 0, 1), 0);
}

TEST(TempCountSeqsH2, MaximalRunsPerRow) {
    Pic src(4, 2);
    src.v = {6, 6, 0, 6, 6, 5, 0, 0};
    src.p.data = src.v.data();
    // Row 0: {0, 1} and {3}; row 1: {0}. The run ending row 0 and the one
    // starting row 1 are two runs.
    EXPECT_EQ(tempCountSeqsH2(&src.p, 0, 5), 3);
    EXPECT_EQ(tempCountSeqsH2(&src.p, 0, 6), 0);
    EXPECT_EQ(tempCountSeqsH2(&src.p, 0, -1), 2);
    Image32 empty = makeImage32(5, 0, nullptr);
    EXPECT_EQ(tempCountSeqsH2(&empty, 0, 5), 0);
}

TEST(RunCounting, GridsOutsideTheSourceAreRefusedWithNothingWritten) {
    Pic src(32, 32);
    for (int32_t& v : src.v) v = 100;  // every pixel above the threshold
    Pic dest(3, 1);
    Pic lengths(48, 1);
    expectRefused(countSeqsH(&src.p, &dest.p, 16, 16, 12, 0.0), "countSeqsH", "dest->w * blockWidth <= src->w");
    Pic tall(1, 3);
    expectRefused(countSeqsV(&src.p, &tall.p, &lengths.p, 16, 16, 12, 0.0), "countSeqsV",
                  "dest->h * blockHeight <= src->h");
    expectRefused(countSeqsH(&src.p, &tall.p, 16, 0, 12, 0.0), "countSeqsH", "blockHeight >= 1");
    Pic wide(2, 1);
    Pic shortLengths(31, 1);
    expectRefused(countSeqsV(&src.p, &wide.p, &shortLengths.p, 16, 16, 12, 0.0), "countSeqsV",
                  "runLengths->w * runLengths->h >= dest->w * blockWidth");
    for (const Pic* p : {&dest, &lengths, &tall, &wide, &shortLengths}) EXPECT_TRUE(holdsOnly(p->p, 0));
}
