#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

static_assert(nBlSum <= TABSIZE);

// Largest possible sum of one 8 x 8 block.
static constexpr int32_t kFullBlockSum = BLOCKSIZE * BLOCKSIZE * 255;

using BlockLists = ExposureLists;

// Integer versions of the two insertions. The final lists hold the nBlSum
// smallest and largest values of everything offered, starting values
// included, whatever the order of offering; equal sums are the same number,
// so ties cannot tell the blocks apart.
static LUMAQC_ALWAYS_INLINE void offerSmallest(int32_t* list, int32_t sum) {
    for (int i = 0; i < nBlSum; ++i) {
        if (list[i] >= sum) {
            for (int j = nBlSum - 1; j > i; --j) list[j] = list[j - 1];
            list[i] = sum;
            return;
        }
    }
}

static LUMAQC_ALWAYS_INLINE void offerLargest(int32_t* list, int32_t sum) {
    for (int i = 0; i < nBlSum; ++i) {
        if (list[i] <= sum) {
            for (int j = nBlSum - 1; j > i; --j) list[j] = list[j - 1];
            list[i] = sum;
            return;
        }
    }
}

// Offers the sums of the blockCols x blockRows blocks at the top left of the
// picture, block row by block row.
static LUMAQC_ALWAYS_INLINE void offerBlockSumsBody(const uint8_t* data, uint64_t stride, uint64_t blockCols,
                                                   uint64_t blockRows, BlockLists* lists) {
    alignas(64) uint16_t columns[BLOCK_SPAN * BLOCKSIZE];
    alignas(64) uint16_t sums[BLOCK_SPAN];
    for (uint64_t by = 0; by < blockRows; ++by) {
        const uint8_t* top = data + by * BLOCKSIZE * stride;
        for (uint64_t b0 = 0; b0 < blockCols; b0 += BLOCK_SPAN) {
            const uint64_t n = blockCols - b0 < BLOCK_SPAN ? blockCols - b0 : BLOCK_SPAN;
            uint16_t lo, hi;
            sumBlockSpan(top + b0 * BLOCKSIZE, stride, n, columns, sums, &lo, &hi);
            // Only a sum beyond the last entry changes a list: one equal to it
            // takes its place with the same value. Most spans hold no such
            // sum for either list, flat pictures none after the first span.
            int32_t* smallest = lists->smallest;
            int32_t* largest = lists->largest;
            if (lo < smallest[nBlSum - 1])
                for (uint64_t j = 0; j < n; ++j)
                    if (sums[j] < smallest[nBlSum - 1]) offerSmallest(smallest, sums[j]);
            if (hi > largest[nBlSum - 1])
                for (uint64_t j = 0; j < n; ++j)
                    if (sums[j] > largest[nBlSum - 1]) offerLargest(largest, sums[j]);
        }
    }
}

LUMAQC_VARIANTS(void, offerBlockSums, offerBlockSumsBody,
                (const uint8_t* data, uint64_t stride, uint64_t blockCols, uint64_t blockRows, BlockLists* lists),
                (data, stride, blockCols, blockRows, lists))


double exposure(const Image* img, IndicatorState& state) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);

    BlockLists lists;
    exposureStart(lists);

    // Blocks are visited only where at least one pixel column lies right of
    // the block and one pixel row below it: a width or height that is a
    // multiple of 8 leaves its last block column or row out, and a picture of
    // 8 pixels or fewer across or down has no block at all. x0 < w - 8 for
    // x0 = 0, 8, ... gives (w - 1) / 8 block columns, and the same for rows.
    const uint32_t size = static_cast<uint32_t>(BLOCKSIZE);
    if (w >= size && h >= size) {
        const uint64_t blockCols = (w - 1u) / size;
        const uint64_t blockRows = (h - 1u) / size;
        if (blockCols > 0 && blockRows > 0)
            offerBlockSums(state.isa, img->data, w, blockCols, blockRows, &lists);
    }
    return exposureFromLists(lists);
}

void exposureStart(ExposureLists& lists) {
    for (int i = 0; i < nBlSum; ++i) {
        lists.smallest[i] = kFullBlockSum;
        lists.largest[i] = 0;
    }
}

void exposureOffer(ExposureLists& lists, const int32_t* sums, uint64_t n) {
    int32_t lo = kFullBlockSum;
    int32_t hi = 0;
    for (uint64_t j = 0; j < n; ++j) {
        lo = sums[j] < lo ? sums[j] : lo;
        hi = sums[j] > hi ? sums[j] : hi;
    }
    // As in the block walk: only sums beyond the last entries change a list.
    if (lo < lists.smallest[nBlSum - 1])
        for (uint64_t j = 0; j < n; ++j)
            if (sums[j] < lists.smallest[nBlSum - 1]) offerSmallest(lists.smallest, sums[j]);
    if (hi > lists.largest[nBlSum - 1])
        for (uint64_t j = 0; j < n; ++j)
            if (sums[j] > lists.largest[nBlSum - 1]) offerLargest(lists.largest, sums[j]);
}

double exposureFromLists(const ExposureLists& lists) {
    // Entries no block replaced keep their starting values and count too.
    double total = 0.0;
    for (int i = 0; i < nBlSum; ++i) total += static_cast<double>(lists.largest[i]);
    for (int i = 0; i < nBlSum; ++i) total += static_cast<double>(lists.smallest[i]);
    return total / (2.0 * nBlSum * BLOCKSIZE * BLOCKSIZE);
}

}  // namespace lumaqc
