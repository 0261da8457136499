#include <cmath>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"
#include "tools/gradients.hpp"

namespace lumaqc {

namespace reference {

namespace {

// Deviation of the whole block nearest to pixel (c, r). Pixels right of or
// below the grid of whole blocks take the last block of their row or column;
// a picture without any whole block has deviation 0 everywhere.
double nearestBlockDeviation(const ImageDouble* dev, uint32_t c, uint32_t r) {
    const uint32_t cols = static_cast<uint32_t>(dev->w);
    const uint32_t rows = static_cast<uint32_t>(dev->h);
    if (cols == 0 || rows == 0) return 0.0;
    uint32_t bx = c / BLUR_BLOCKSIZE;
    uint32_t by = r / BLUR_BLOCKSIZE;
    if (bx >= cols) bx = cols - 1;
    if (by >= rows) by = rows - 1;
    return dev->data[static_cast<uint64_t>(by) * cols + bx];
}

}  // namespace

double blur(const Image* img) {
    const uint32_t W = static_cast<uint32_t>(img->w);
    const uint32_t H = static_cast<uint32_t>(img->h);

    Image32 blockSum = callocImage32(W / BLUR_BLOCKSIZE, H / BLUR_BLOCKSIZE);
    Image32 blockSquareSum = callocImage32(W / BLUR_BLOCKSIZE, H / BLUR_BLOCKSIZE);
    ImageDouble deviation = callocImageDouble(W / BLUR_BLOCKSIZE, H / BLUR_BLOCKSIZE);
    SizeChecks sized;
    sized += calculateStdDevs(img, &blockSum, &blockSquareSum, &deviation, BLUR_BLOCKSIZE, BLUR_BLOCKSIZE);

    Image32 gx = callocImage32(W, H);
    Image32 gy = callocImage32(W, H);
    sized += gradient(img, &gx, &gy);

    Image32 g2 = callocImage32(W, H);
    const uint64_t count = static_cast<uint64_t>(W) * H;
    for (uint64_t i = 0; i < count; ++i) g2.data[i] = gx.data[i] * gx.data[i];

    const double threshold = (static_cast<double>(sumPixels32(&g2)) /
                              (static_cast<double>(g2.h) * static_cast<double>(g2.w))) *
                             16.0;

    // Edge and width counters wrap like the 32-bit signed integers they are.
    uint32_t edges = 0;
    uint32_t widths = 0;
    if (H >= 3) {
        const int32_t* GX = gx.data;
        const int32_t* GY = gy.data;
        const int32_t* G2 = g2.data;
        for (uint32_t r = 1; r + 1 < H; ++r) {
            const uint32_t s = r * W + 1;      // column 1
            const uint32_t e = r * W + W - 2;  // column W - 2
            for (uint32_t c = 1; c + 1 < W; ++c) {
                const uint32_t j = r * W + c;
                const int32_t v = G2[j];
                if (!(static_cast<double>(v) > threshold)) continue;
                const bool horizontalPeak = G2[j - 1] <= v && v > G2[j + 1] && std::abs(GX[j]) >= std::abs(GY[j]);
                const bool verticalPeak = G2[j - W] <= v && v > G2[j + W];
                if (!horizontalPeak && !verticalPeak) continue;

                const double t = nearestBlockDeviation(&deviation, c, r) * 0.0009765625;

                const int32_t a = GX[j];
                const int32_t b = GX[j + 1];
                int32_t sgn;
                if (a < 0 || b < 0) {
                    sgn = -1;
                } else if (a == 0 && b == 0) {
                    continue;
                } else {
                    sgn = 1;
                }
                ++edges;

                uint32_t right = 0;
                if (static_cast<double>(sgn * b) > t && j < e) {
                    right = 1;
                    while (j + right < e && static_cast<double>(sgn * GX[j + right + 1]) > t) ++right;
                }
                uint32_t left = 0;
                if (static_cast<double>(sgn * a) > t && j > s) {
                    left = 1;
                    while (j - left > s && static_cast<double>(sgn * GX[j - left]) > t) ++left;
                }
                widths += left + right;
            }
        }
    }

    const int32_t L = static_cast<int32_t>(widths);
    const int32_t E = static_cast<int32_t>(edges);
    const double result = L != 0 ? static_cast<double>(L) / static_cast<double>(E) : 0.0;

    freeImage32(&blockSum);
    freeImage32(&blockSquareSum);
    freeImageDouble(&deviation);
    freeImage32(&gx);
    freeImage32(&gy);
    freeImage32(&g2);
    // The pictures are sized for their operators: a refused size means "not measured".
    return sized.allOk ? result : -1.0;
}

}  // namespace reference

}  // namespace lumaqc
