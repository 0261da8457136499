#include <cmath>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

namespace reference {

static inline int32_t absStep(uint8_t a, uint8_t b) {
    const int32_t d = static_cast<int32_t>(a) - static_cast<int32_t>(b);
    return d < 0 ? -d : d;
}

// The running sums are carried on from one grid line to the next, so the
// first line of each direction weighs as many times as there are lines and
// the last one once. They are 64 bits wide: 255 x width x lines leaves 32 bits
// above 7680 x 4320, and below that the values are the same.
double blockiness(const Image* img) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint8_t* p = img->data;
    const uint64_t stride = w;

    // Lines between rows: the step from row k-2 to k-1 lies inside the block
    // above the line, the step from k-1 to k crosses it.
    uint64_t insideH = 0, acrossH = 0;
    int64_t runInside = 0, runAcross = 0;
    for (uint64_t k = BLOCKSIZE; k + BLOCKSIZE <= h; k += BLOCKSIZE) {
        const uint8_t* above2 = p + (k - 2) * stride;
        const uint8_t* above1 = p + (k - 1) * stride;
        const uint8_t* below = p + k * stride;
        for (uint32_t x = 0; x < w; ++x) {
            runInside += absStep(above1[x], above2[x]);
            runAcross += absStep(above1[x], below[x]);
        }
        insideH += static_cast<uint64_t>(runInside);
        acrossH += static_cast<uint64_t>(runAcross);
    }

    // Lines between columns, the same with columns k-2, k-1 and k.
    uint64_t insideV = 0, acrossV = 0;
    runInside = 0;
    runAcross = 0;
    for (uint64_t k = BLOCKSIZE; k + BLOCKSIZE <= w; k += BLOCKSIZE) {
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* row = p + y * stride;
            runInside += absStep(row[k - 1], row[k - 2]);
            runAcross += absStep(row[k - 1], row[k]);
        }
        insideV += static_cast<uint64_t>(runInside);
        acrossV += static_cast<uint64_t>(runAcross);
    }

    const uint64_t inside = insideH + insideV;
    const uint64_t across = acrossH + acrossV;
    const double ratio = static_cast<double>(inside) / static_cast<double>(across);
    // No step anywhere on or beside the grid: nothing to tell, call it neutral.
    if (std::isnan(ratio)) return 1.0;
    return ratio;
}

}  // namespace reference

}  // namespace lumaqc
