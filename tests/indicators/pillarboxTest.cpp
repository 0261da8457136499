#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

namespace {
std::string printed(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}
}  // namespace

TEST(Pillarbox, BarsCountFromTheLeftEdgeOnly) {
    TestPicture flat(64, 48, 90);
    EXPECT_EQ(pillarbox(flat.get()), 1.0);

    // A black bar of 100 columns at the left of a 1920-wide picture.
    TestPicture bar(1920, 6, 0);
    for (uint64_t y = 0; y < 6; ++y)
        for (uint64_t x = 100; x < 1920; ++x) bar.at(x, y) = static_cast<uint8_t>(1 + (x * 7 + y * 13) % 250);
    EXPECT_EQ(bitsOf(pillarbox(bar.get())), bitsOf(99.0 / 960.0));

    // Bars at the right edge alone count for nothing.
    TestPicture right(40, 10, 0);
    right.fill([](uint64_t x, uint64_t y) { return static_cast<uint8_t>(x >= 30 ? 0 : x + y + 1); });
    EXPECT_EQ(pillarbox(right.get()), 0.0);

    // Only the top and bottom half rows are compared: an odd height's middle
    // row may differ.
    TestPicture odd(8, 5, 50);
    odd.at(0, 2) = 1;
    EXPECT_EQ(pillarbox(odd.get()), 1.0);
    odd.at(0, 4) = 1;  // bottom row: column 0 now differs from column 1
    EXPECT_EQ(pillarbox(odd.get()), 0.0);
    odd.at(0, 4) = 50;
    odd.at(4, 0) = 9;  // column 3 differs from column 4: columns 0..2 pass
    EXPECT_EQ(pillarbox(odd.get()), 3.0 / 4.0);
}

TEST(Pillarbox, ThinPictures) {
    TestPicture row(9, 1);
    row.fill([](uint64_t x, uint64_t) { return static_cast<uint8_t>(x); });
    EXPECT_EQ(pillarbox(row.get()), 1.0);
    TestPicture column(1, 9, 3);
    const double v = pillarbox(column.get());
    EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(printed(v), "-nan");
}

TEST(Pillarbox, CheckPillarBarTestsOneColumn) {
    TestPicture p(5, 4, 0);
    p.at(2, 3) = 1;  // bottom row: column 1 differs from 2, column 2 from 3
    const uint8_t* d = p.pixels.data();
    EXPECT_EQ(checkPillarBar(d, 5, 4, 0), 1);
    EXPECT_EQ(checkPillarBar(d, 5, 4, 1), 0);
    EXPECT_EQ(checkPillarBar(d, 5, 4, 2), 0);
    EXPECT_EQ(checkPillarBar(d, 5, 4, 3), 1);
    EXPECT_EQ(checkPillarBar(d, 5, 1, 1), 1);  // a single row: nothing to compare
    EXPECT_EQ(checkPillarBar(d, 5, 4, 4), 0);  // no column to the right
}
