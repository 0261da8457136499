// Slice: how much more often a pixel repeats the pixel 16 columns to its
// right than the pixel 16 rows below it, strip by strip.
#include <cmath>
#include <cstdlib>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"
#include "tools/pixelwise.hpp"

namespace lumaqc {

namespace reference {

// Share of ones per strip: count / (width << 4), the divisor a 32-bit
// signed integer from the low 32 bits of the map's width.
static void stripShares(const Image32* counts, uint64_t mapWidth, ImageDouble* shares) {
    const double divisor = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(mapWidth) << 4));
    for (uint64_t k = 0; k < counts->h; ++k) shares->data[k] = static_cast<double>(counts->data[k]) / divisor;
}

double slice(const Image* img) {
    const uint64_t w = img->w;
    const uint64_t h = img->h;
    const uint64_t block = SLICE_BLOCKSIZE;
    if (h < 3 * block) return -1.0;

    const uint64_t nV = (h - block) / block;
    const uint64_t nH = h / block;
    // A picture no wider than a strip has no horizontal partners: its map is
    // empty and every horizontal share comes out as 0/0.
    const uint64_t mapW = w > block ? w - block : 0;
    Image vertical = callocImage(w, h - block);
    Image horizontal = callocImage(mapW, h);
    Image32 verticalCounts = callocImage32(1, nV);
    Image32 horizontalCounts = callocImage32(1, nH);
    ImageDouble verticalShares = callocImageDouble(1, nV);
    ImageDouble horizontalShares = callocImageDouble(1, nH);
    ImageDouble ratios = callocImageDouble(1, nV);

    SizeChecks sized;
    sized += compareShifted(img, &vertical, static_cast<int32_t>(static_cast<uint32_t>(w) * 16u));
    sized += compareShifted(img, &horizontal, SLICE_BLOCKSIZE);
    blockSums(&vertical, &verticalCounts, vertical.w, block);
    blockSums(&horizontal, &horizontalCounts, horizontal.w, block);
    stripShares(&verticalCounts, vertical.w, &verticalShares);
    stripShares(&horizontalCounts, horizontal.w, &horizontalShares);
    sized += divideDouble(&verticalShares, &horizontalShares, &ratios);

    // A strip with no pixel equal to either partner has the ratio 0/0: it
    // takes no part in the minimum, so the sort never meets a NaN.
    double* r = ratios.data;
    uint64_t kept = 0;
    for (uint64_t k = 0; k < nV; ++k)
        if (!std::isnan(r[k])) r[kept++] = r[k];
    double result;
    if (kept == 0) {
        result = 1.0 / r[0];  // every ratio is NaN, and so is the result
    } else {
        const int32_t count = static_cast<int32_t>(static_cast<uint32_t>(kept));
        if (count > 0) std::qsort(r, static_cast<size_t>(count), sizeof(double), compare_Double_asc);
        result = 1.0 / r[0];
    }

    freeImage(&vertical);
    freeImage(&horizontal);
    freeImage32(&verticalCounts);
    freeImage32(&horizontalCounts);
    freeImageDouble(&verticalShares);
    freeImageDouble(&horizontalShares);
    freeImageDouble(&ratios);
    // The pictures are sized for their operators: a refused size means "not measured".
    return sized.allOk ? result : -1.0;
}

}  // namespace reference

}  // namespace lumaqc
