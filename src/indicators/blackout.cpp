#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"
#include "simd/isa.hpp"
#include "tools/sizeChecks.hpp"

namespace lumaqc {


// Smallest spread of block sums that is no longer flat: 4 grey levels of
// block mean over 64 pixels.
constexpr int32_t FIRST_SPREAD_NOT_FLAT = static_cast<int32_t>(THRESHOLD_BLACKOUT * BLOCKSIZE * BLOCKSIZE);

// Spread (largest minus smallest) of the sums of the blockCols x blockRows
// blocks at the top left of the picture, block row by block row. The walk
// stops as soon as the spread so far reaches FIRST_SPREAD_NOT_FLAT, since
// more blocks can only widen it.
static LUMAQC_ALWAYS_INLINE int32_t blockSumSpreadBody(const uint8_t* data, uint64_t stride, uint64_t blockCols,
                                                      uint64_t blockRows) {
    alignas(64) uint16_t columns[BLOCK_SPAN * BLOCKSIZE];
    alignas(64) uint16_t sums[BLOCK_SPAN];
    int32_t lo = 0x7fffffff;
    int32_t hi = -1;
    for (uint64_t by = 0; by < blockRows; ++by) {
        const uint8_t* top = data + by * BLOCKSIZE * stride;
        for (uint64_t b0 = 0; b0 < blockCols; b0 += BLOCK_SPAN) {
            const uint64_t n = blockCols - b0 < BLOCK_SPAN ? blockCols - b0 : BLOCK_SPAN;
            uint16_t spanLo, spanHi;
            sumBlockSpan(top + b0 * BLOCKSIZE, stride, n, columns, sums, &spanLo, &spanHi);
            lo = spanLo < lo ? spanLo : lo;
            hi = spanHi > hi ? spanHi : hi;
            if (hi - lo >= FIRST_SPREAD_NOT_FLAT) return hi - lo;
        }
    }
    return hi - lo;
}

LUMAQC_VARIANTS(int32_t, blockSumSpread, blockSumSpreadBody,
                (const uint8_t* data, uint64_t stride, uint64_t blockCols, uint64_t blockRows),
                (data, stride, blockCols, blockRows))


uint8_t blackout(const Image* img, IndicatorState& state) {
    const uint64_t blockCols = static_cast<uint32_t>(img->w) / static_cast<uint32_t>(BLOCKSIZE);
    const uint64_t blockRows = static_cast<uint32_t>(img->h) / static_cast<uint32_t>(BLOCKSIZE);
    const uint64_t n = blockCols * blockRows;
    // Without a whole block there is nothing to judge: not a blackout.
    if (n == 0) return 0;

    // Columns and rows right of or below the block grid are not read. The
    // smallest and the largest block sum are the same whichever order the
    // blocks are scanned in; a spread cut short at FIRST_SPREAD_NOT_FLAT
    // gives the same flag as the whole one.
    const int32_t spread = blockSumSpread(state.isa, img->data, img->w, blockCols, blockRows);
    return blackoutFromSpread(n, spread);
}

uint8_t blackoutFromSpread(uint64_t blocks, int32_t spread) {
    if (blocks == 0) return 0;
    const uint8_t flat = static_cast<double>(spread) / 64.0 < THRESHOLD_BLACKOUT ? 1 : 0;
    return flat;
}

}  // namespace lumaqc
