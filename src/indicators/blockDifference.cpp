#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

// Largest |sums[j] - sum of block j of block row `by` of prev| over the
// blockCols whole blocks of that row: prev's block sums are formed span by
// span, as for the picture itself.
static LUMAQC_ALWAYS_INLINE int32_t largestSumChangeBody(const uint8_t* prev, uint64_t w, uint64_t by,
                                                        const int32_t* sums, uint64_t blockCols) {
    alignas(64) uint16_t columns[BLOCK_SPAN * BLOCKSIZE];
    alignas(64) uint16_t before[BLOCK_SPAN];
    const uint8_t* top = prev + by * BLOCKSIZE * w;
    int32_t largest = 0;
    for (uint64_t b0 = 0; b0 < blockCols; b0 += BLOCK_SPAN) {
        const uint64_t n = blockCols - b0 < BLOCK_SPAN ? blockCols - b0 : BLOCK_SPAN;
        uint16_t lo, hi;
        sumBlockSpan(top + b0 * BLOCKSIZE, w, n, columns, before, &lo, &hi);
        for (uint64_t j = 0; j < n; ++j) {
            const int32_t change = sums[b0 + j] - static_cast<int32_t>(before[j]);
            const int32_t size = change < 0 ? -change : change;
            largest = size > largest ? size : largest;
        }
    }
    return largest;
}

LUMAQC_VARIANTS(int32_t, largestSumChange, largestSumChangeBody,
                (const uint8_t* prev, uint64_t w, uint64_t by, const int32_t* sums, uint64_t blockCols),
                (prev, w, by, sums, blockCols))

// The picture's own block sums of block row `by`, for the entry point that
// runs outside the one pass.
static LUMAQC_ALWAYS_INLINE void blockRowSumsBody(const uint8_t* data, uint64_t w, uint64_t by, int32_t* sums,
                                                 uint64_t blockCols) {
    alignas(64) uint16_t columns[BLOCK_SPAN * BLOCKSIZE];
    alignas(64) uint16_t span[BLOCK_SPAN];
    const uint8_t* top = data + by * BLOCKSIZE * w;
    for (uint64_t b0 = 0; b0 < blockCols; b0 += BLOCK_SPAN) {
        const uint64_t n = blockCols - b0 < BLOCK_SPAN ? blockCols - b0 : BLOCK_SPAN;
        uint16_t lo, hi;
        sumBlockSpan(top + b0 * BLOCKSIZE, w, n, columns, span, &lo, &hi);
        for (uint64_t j = 0; j < n; ++j) sums[b0 + j] = span[j];
    }
}

LUMAQC_VARIANTS(void, blockRowSums, blockRowSumsBody,
                (const uint8_t* data, uint64_t w, uint64_t by, int32_t* sums, uint64_t blockCols),
                (data, w, by, sums, blockCols))

int32_t largestBlockSumChange(Isa isa, const uint8_t* prev, uint64_t w, uint64_t by, const int32_t* sums,
                              uint64_t blockCols) {
    return largestSumChange(isa, prev, w, by, sums, blockCols);
}

double blockDifferenceFromSums(uint64_t blocks, int32_t largestChange) {
    // Without a whole block there is nothing to measure.
    if (blocks == 0) return -1.0;
    return static_cast<double>(largestChange) / 64.0;
}

double blockDifference(const Image* cur, const Image* prev, IndicatorState& state) {
    const uint64_t blockCols = cur->w / BLOCKSIZE;
    const uint64_t blockRows = cur->h / BLOCKSIZE;
    if (blockCols * blockRows == 0) return blockDifferenceFromSums(0, 0);
    std::vector<int32_t>& sums = state.blockSums;
    if (sums.size() < blockCols) sums.resize(blockCols);
    int32_t largest = 0;
    for (uint64_t by = 0; by < blockRows; ++by) {
        blockRowSums(state.isa, cur->data, cur->w, by, sums.data(), blockCols);
        const int32_t change = largestSumChange(state.isa, prev->data, cur->w, by, sums.data(), blockCols);
        largest = change > largest ? change : largest;
    }
    return blockDifferenceFromSums(blockCols * blockRows, largest);
}

}  // namespace lumaqc
