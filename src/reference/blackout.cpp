#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"

namespace lumaqc {

namespace reference {

uint8_t blackout(const Image* img) {
    const uint64_t blockCols = static_cast<uint32_t>(img->w) / static_cast<uint32_t>(BLOCKSIZE);
    const uint64_t blockRows = static_cast<uint32_t>(img->h) / static_cast<uint32_t>(BLOCKSIZE);
    const uint64_t n = blockCols * blockRows;
    // Without a whole block there is nothing to judge: not a blackout.
    if (n == 0) return 0;

    Image32 sums = callocImage32(blockCols, blockRows);
    // Columns and rows right of or below the block grid are not read.
    blockSums(img, &sums, BLOCKSIZE, BLOCKSIZE);

    int32_t lo = sums.data[0];
    int32_t hi = sums.data[0];
    for (uint64_t i = 1; i < n; ++i) {
        const int32_t v = sums.data[i];
        if (v < lo)
            lo = v;
        else if (v > hi)
            hi = v;
    }
    freeImage32(&sums);

    const int32_t spread = hi - lo;
    const uint8_t flat = static_cast<double>(spread) / 64.0 < THRESHOLD_BLACKOUT ? 1 : 0;
    return flat;
}

}  // namespace reference

}  // namespace lumaqc
