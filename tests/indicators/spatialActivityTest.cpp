#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "indicators/indicators.hpp"
#include "support/oneCallIndicators.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

namespace {
// Sum of Gx^2 + Gy^2 over the interior, straight from the 3 x 3 kernels.
double sobelEnergy(TestPicture& p) {
    static const int kx[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
    static const int ky[3][3] = {{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}};
    double sum = 0.0;
    for (uint64_t y = 1; y + 1 < p.img.h; ++y)
        for (uint64_t x = 1; x + 1 < p.img.w; ++x) {
            long gx = 0, gy = 0;
            for (int j = 0; j < 3; ++j)
                for (int i = 0; i < 3; ++i) {
                    const int v = p.at(x + i - 1, y + j - 1);
                    gx += kx[j][i] * v;
                    gy += ky[j][i] * v;
                }
            sum += static_cast<double>(gx * gx + gy * gy);
        }
    return sum;
}
}  // namespace

TEST(SpatialAct, ThreeByThreeExamples) {
    TestPicture edge(3, 3, 0);
    for (uint64_t y = 0; y < 3; ++y) edge.at(2, y) = 255;  // Gx = 1020, Gy = 0
    EXPECT_EQ(spatialAct(edge.get()), 1020.0);
    EXPECT_EQ(spatialActivity(edge.get()), 340.0);

    TestPicture centre(3, 3, 0);
    centre.at(1, 1) = 255;  // the centre is not part of its own responses
    EXPECT_EQ(spatialAct(centre.get()), 0.0);

    TestPicture bottom(3, 3, 0);
    for (uint64_t x = 0; x < 3; ++x) bottom.at(x, 2) = 100;  // Gy = 400
    EXPECT_EQ(spatialAct(bottom.get()), 400.0);

    TestPicture corner(3, 3, 0);
    corner.at(0, 0) = 10;  // Gx = -10, Gy = -10
    EXPECT_EQ(bitsOf(spatialAct(corner.get())), bitsOf(std::sqrt(200.0)));
}

TEST(SpatialAct, UniformAndThinPicturesHaveNoEnergy) {
    TestPicture uniform(50, 30, 200);
    EXPECT_EQ(spatialAct(uniform.get()), 0.0);
    EXPECT_EQ(spatialActivity(uniform.get()), 0.0);
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1, 9}, {2, 9}, {9, 1}, {9, 2}}) {
        TestPicture p(w, h);
        p.randomise(static_cast<uint32_t>(w * 10 + h));
        EXPECT_EQ(spatialAct(p.get()), 0.0) << w << "x" << h;
        EXPECT_EQ(spatialActivity(p.get()), 0.0) << w << "x" << h;
    }
}

TEST(SpatialAct, MatchesAPlainSobelSumOnAwkwardSizes) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{3, 3}, {7, 5}, {33, 17}, {130, 3}}) {
        TestPicture p(w, h);
        p.randomise(static_cast<uint32_t>(w * 1000 + h));
        const double energy = sobelEnergy(p);
        EXPECT_EQ(bitsOf(spatialAct(p.get())), bitsOf(std::sqrt(energy))) << w << "x" << h;
        EXPECT_EQ(bitsOf(spatialActivity(p.get())),
                  bitsOf(std::sqrt(energy) / std::sqrt(static_cast<double>(w * h))))
            << w << "x" << h;
    }
}

TEST(SpatialActivity, EmptyPictureIsNotANumber) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{0, 0}, {0, 5}, {5, 0}}) {
        TestPicture p(w, h);
        EXPECT_EQ(spatialAct(p.get()), 0.0);
        const double v = spatialActivity(p.get());
        char text[16];
        std::snprintf(text, sizeof text, "%f", v);
        EXPECT_STREQ(text, "-nan") << w << "x" << h;
    }
}
