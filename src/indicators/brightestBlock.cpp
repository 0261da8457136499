#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

// Largest sum of the blockCols x blockRows blocks at the top left of the
// picture, block row by block row.
static LUMAQC_ALWAYS_INLINE int32_t largestBlockSumBody(const uint8_t* data, uint64_t stride, uint64_t blockCols,
                                                       uint64_t blockRows) {
    alignas(64) uint16_t columns[BLOCK_SPAN * BLOCKSIZE];
    alignas(64) uint16_t sums[BLOCK_SPAN];
    int32_t hi = -1;
    for (uint64_t by = 0; by < blockRows; ++by) {
        const uint8_t* top = data + by * BLOCKSIZE * stride;
        for (uint64_t b0 = 0; b0 < blockCols; b0 += BLOCK_SPAN) {
            const uint64_t n = blockCols - b0 < BLOCK_SPAN ? blockCols - b0 : BLOCK_SPAN;
            uint16_t spanLo, spanHi;
            sumBlockSpan(top + b0 * BLOCKSIZE, stride, n, columns, sums, &spanLo, &spanHi);
            hi = spanHi > hi ? spanHi : hi;
        }
    }
    return hi;
}

LUMAQC_VARIANTS(int32_t, largestBlockSum, largestBlockSumBody,
                (const uint8_t* data, uint64_t stride, uint64_t blockCols, uint64_t blockRows),
                (data, stride, blockCols, blockRows))

double brightestBlock(const Image* img, IndicatorState& state) {
    const uint64_t blockCols = img->w / BLOCKSIZE;
    const uint64_t blockRows = img->h / BLOCKSIZE;
    if (blockCols * blockRows == 0) return brightestFromSum(blockCols * blockRows, -1);
    return brightestFromSum(blockCols * blockRows, largestBlockSum(state.isa, img->data, img->w, blockCols, blockRows));
}

double brightestFromSum(uint64_t blocks, int32_t largestSum) {
    // Without a whole block there is nothing to measure.
    if (blocks == 0) return -1.0;
    return static_cast<double>(largestSum) / 64.0;
}

}  // namespace lumaqc
