#include "common/constants.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"

namespace lumaqc {

namespace reference {

double blockDifference(const Image* cur, const Image* prev) {
    const uint64_t blockCols = cur->w / BLOCKSIZE;
    const uint64_t blockRows = cur->h / BLOCKSIZE;
    const uint64_t n = blockCols * blockRows;
    // Without a whole block there is nothing to measure.
    if (n == 0) return -1.0;

    // The picture of absolute differences, then its 8 x 8 block sums.
    Image difference = callocImage(cur->w, cur->h);
    for (uint64_t i = 0; i < cur->w * cur->h; ++i) {
        const uint8_t a = cur->data[i], b = prev->data[i];
        difference.data[i] = static_cast<uint8_t>(a > b ? a - b : b - a);
    }
    Image32 sums = callocImage32(blockCols, blockRows);
    blockSums(&difference, &sums, BLOCKSIZE, BLOCKSIZE);
    int32_t hi = sums.data[0];
    for (uint64_t i = 1; i < n; ++i) hi = sums.data[i] > hi ? sums.data[i] : hi;
    freeImage32(&sums);
    freeImage(&difference);
    return static_cast<double>(hi) / 64.0;
}

}  // namespace reference

}  // namespace lumaqc
