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

    // The 8 x 8 block sums of both pictures, then the largest change of one.
    Image32 now = callocImage32(blockCols, blockRows);
    Image32 before = callocImage32(blockCols, blockRows);
    blockSums(cur, &now, BLOCKSIZE, BLOCKSIZE);
    blockSums(prev, &before, BLOCKSIZE, BLOCKSIZE);
    int32_t largest = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const int32_t change = now.data[i] > before.data[i] ? now.data[i] - before.data[i] : before.data[i] - now.data[i];
        if (change > largest) largest = change;
    }
    freeImage32(&now);
    freeImage32(&before);
    return static_cast<double>(largest) / 64.0;
}

}  // namespace reference

}  // namespace lumaqc
