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

TEST(Letterbox, BarsCountFromTheEdgesToTheFirstRowWithDetail) {
    TestPicture flat(64, 48, 90);
    EXPECT_EQ(letterbox(flat.get()), 1.0);

    // 1920 x 1080 with black rows 0..139 and 940..1079, row 140 with two values.
    TestPicture hd(1920, 1080, 0);
    for (uint64_t y = 140; y < 940; ++y)
        for (uint64_t x = 0; x < 1920; ++x) hd.at(x, y) = static_cast<uint8_t>((x * 3 + y) % 200);
    for (uint64_t x = 0; x < 1920; ++x) hd.at(x, 140) = x < 960 ? 10 : 11;
    EXPECT_EQ(bitsOf(letterbox(hd.get())), bitsOf(140.0 / 540.0));
    // A flat row deeper inside, after one with detail, does not count.
    for (uint64_t x = 0; x < 1920; ++x) hd.at(x, 141) = hd.at(x, 938) = 0;
    EXPECT_EQ(bitsOf(letterbox(hd.get())), bitsOf(140.0 / 540.0));

    // Black top rows but a bottom row with detail: no bar at all.
    TestPicture top(32, 20, 0);
    top.at(5, 19) = 1;
    EXPECT_EQ(letterbox(top.get()), 0.0);
    // The bottom row one step in: one pair passes.
    TestPicture second(32, 20, 0);
    second.at(31, 18) = 1;
    EXPECT_EQ(letterbox(second.get()), 1.0 / 10.0);

    // Top row black, bottom row white: each is flat, so the pair passes.
    TestPicture twoShades(16, 8, 0);
    for (uint64_t x = 0; x < 16; ++x) twoShades.at(x, 7) = 255;
    for (uint64_t y = 1; y < 7; ++y) twoShades.at(0, y) = 9;
    EXPECT_EQ(letterbox(twoShades.get()), 1.0 / 4.0);

    // Odd height: the middle row is never looked at.
    TestPicture odd(10, 7, 4);
    odd.at(3, 3) = 200;
    EXPECT_EQ(letterbox(odd.get()), 1.0);
}

TEST(Letterbox, ThinPictures) {
    TestPicture column(1, 9);
    column.fill([](uint64_t, uint64_t y) { return static_cast<uint8_t>(y * 20); });
    EXPECT_EQ(letterbox(column.get()), 1.0);
    TestPicture row(9, 1, 3);
    const double v = letterbox(row.get());
    EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(printed(v), "-nan");
    TestPicture empty(0, 0);
    EXPECT_EQ(printed(letterbox(empty.get())), "-nan");
}

TEST(Letterbox, CheckLetterBarTestsOnePairOfRows) {
    TestPicture p(6, 5, 0);
    for (uint64_t x = 0; x < 6; ++x) p.at(x, 3) = 77;  // flat, other shade
    p.at(2, 1) = 1;                                       // detail in row 1
    p.at(4, 4) = 1;                                       // detail in the bottom row
    const uint8_t* d = p.pixels.data();
    EXPECT_EQ(checkLetterBar(d, 6, 5, 0), 0);  // rows 0 and 4
    EXPECT_EQ(checkLetterBar(d, 6, 5, 1), 0);  // rows 1 and 3
    EXPECT_EQ(checkLetterBar(d, 6, 5, 2), 1);  // the middle row with itself
    p.at(4, 4) = 0;
    EXPECT_EQ(checkLetterBar(d, 6, 5, 0), 1);
    EXPECT_EQ(checkLetterBar(d, 1, 30, 7), 1);  // one pixel per row is always flat
    EXPECT_EQ(checkLetterBar(d, 6, 5, 5), 0);   // no such row
}
