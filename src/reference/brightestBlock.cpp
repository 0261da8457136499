#include "common/constants.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"

namespace lumaqc {

namespace reference {

double brightestBlock(const Image* img) {
    const uint64_t blockCols = img->w / BLOCKSIZE;
    const uint64_t blockRows = img->h / BLOCKSIZE;
    const uint64_t n = blockCols * blockRows;
    // Without a whole block there is nothing to measure.
    if (n == 0) return -1.0;

    Image32 sums = callocImage32(blockCols, blockRows);
    // Columns and rows right of or below the block grid are not read.
    blockSums(img, &sums, BLOCKSIZE, BLOCKSIZE);
    int32_t hi = sums.data[0];
    for (uint64_t i = 1; i < n; ++i) hi = sums.data[i] > hi ? sums.data[i] : hi;
    freeImage32(&sums);
    return static_cast<double>(hi) / 64.0;
}

}  // namespace reference

}  // namespace lumaqc
