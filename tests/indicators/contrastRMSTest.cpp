#include <gtest/gtest.h>

#include <cmath>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

TEST(ContrastRMS, UniformPicturesDependOnTheRoundedReciprocal) {
    TestPicture hd(1920, 1080, 77);
    EXPECT_EQ(contrastRMS(hd.get()), 0.0);
    TestPicture cif(352, 288, 3);
    const double v = contrastRMS(cif.get());
    EXPECT_TRUE(std::isnan(v));
    EXPECT_TRUE(std::signbit(v));  // the square root's NaN, printed "-nan"
}

TEST(ContrastRMS, SmallPictures) {
    uint8_t two[2] = {0, 255};
    Image p2 = makeImage(2, 1, two);
    EXPECT_DOUBLE_EQ(contrastRMS(&p2), std::sqrt(32512.5));
    char text[32];
    std::snprintf(text, sizeof text, "%-5.5f", contrastRMS(&p2));
    EXPECT_STREQ(text, "180.31223");

    uint8_t four[4] = {1, 2, 3, 4};
    Image p4 = makeImage(2, 2, four);
    EXPECT_EQ(bitsOf(contrastRMS(&p4)), bitsOf(std::sqrt((1.0 / 3) * (30.0 - 10.0 * ((1.0 / 4) * 10.0)))));
    EXPECT_NEAR(contrastRMS(&p4), std::sqrt(5.0 / 3.0), 1e-15);
}

TEST(ContrastRMS, SinglePixelAndEmptyPicturesAreNotANumber) {
    uint8_t one[1] = {200};
    Image p1 = makeImage(1, 1, one);
    EXPECT_TRUE(std::isnan(contrastRMS(&p1)));
    Image empty = makeImage(0, 0, one);
    EXPECT_TRUE(std::isnan(contrastRMS(&empty)));
}

TEST(ContrastRMS, BrightPicturesBeyondThe32BitSumStayMeaningful) {
    // 4096 x 2304 white pixels: the pixel sum exceeds 2^31.
    TestPicture p(4096, 2304, 255);
    p.at(0, 0) = 0;
    const double v = contrastRMS(p.get());
    EXPECT_GT(v, 0.0);
    EXPECT_LT(v, 1.0);
}
