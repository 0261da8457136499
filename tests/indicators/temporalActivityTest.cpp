#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

TEST(TemporalActivity, RootMeanSquareOfTheDifference) {
    TestPicture a(64, 48), b(64, 48);
    a.randomise(21);
    b.randomise(21);
    EXPECT_EQ(temporalActivity(a.get(), b.get()), 0.0);

    uint8_t cur[4] = {10, 10, 10, 10};
    uint8_t prev[4] = {10, 10, 10, 14};
    Image c = makeImage(2, 2, cur), p = makeImage(2, 2, prev);
    EXPECT_EQ(temporalActivity(&c, &p), 2.0);

    TestPicture r(64, 48);
    r.randomise(22);
    double squares = 0.0;
    for (uint64_t i = 0; i < 64 * 48; ++i) {
        const double d = static_cast<double>(a.pixels[i]) - static_cast<double>(r.pixels[i]);
        squares += d * d;
    }
    EXPECT_EQ(bitsOf(temporalActivity(a.get(), r.get())), bitsOf(std::sqrt(squares) / std::sqrt(64.0 * 48.0)));
}

TEST(TemporalActivity, BlackAgainstWhiteIs255AtAnySize) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1, 1}, {2, 1}, {7, 3}, {352, 288}, {1920, 1080}}) {
        TestPicture black(w, h, 0), white(w, h, 255);
        const double n = static_cast<double>(w * h);
        const double v = temporalActivity(black.get(), white.get());
        EXPECT_EQ(bitsOf(v), bitsOf(std::sqrt(65025.0 * n) / std::sqrt(n))) << w << "x" << h;
        EXPECT_DOUBLE_EQ(v, 255.0) << w << "x" << h;
    }
}

TEST(TemporalActivity, EmptyPictureIsZeroOverZero) {
    uint8_t pixel = 3;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{0, 0}, {0, 5}, {5, 0}}) {
        Image empty = makeImage(w, h, &pixel);
        const double v = temporalActivity(&empty, &empty);
        EXPECT_TRUE(std::isnan(v));
        char text[16];
        std::snprintf(text, sizeof text, "%f", v);
        EXPECT_STREQ(text, "-nan");
    }
}
