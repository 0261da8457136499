// Sums of 8 x 8 blocks side by side along one block row, shared by the
// indicators that look at block means. Meant to be inlined into the
// instruction-set variants of their loops.
#pragma once

#include <cstdint>

#include "simd/isa.hpp"
#include "tools/pictures.hpp"

namespace lumaqc {

// Blocks summed per call; callers provide columns[BLOCK_SPAN * 8] and sums[BLOCK_SPAN].
constexpr uint64_t BLOCK_SPAN = 256;

// Sums of the n (at most BLOCK_SPAN) blocks whose top-left pixel is p, p + 8,
// ...: the eight rows are added per column first (16 bits: at most 8 x 255),
// then in groups of eight columns (at most 16320). Also the smallest and
// largest of the n sums.
static LUMAQC_ALWAYS_INLINE void sumBlockSpan(const uint8_t* p, uint64_t stride, uint64_t n, uint16_t* columns,
                                              uint16_t* sums, uint16_t* lo, uint16_t* hi) {
    for (uint64_t i = 0; i < n * 8; ++i)
        columns[i] = static_cast<uint16_t>(p[i] + p[i + stride] + p[i + 2 * stride] + p[i + 3 * stride] +
                                           p[i + 4 * stride] + p[i + 5 * stride] + p[i + 6 * stride] +
                                           p[i + 7 * stride]);
    uint16_t spanLo = 0xffff;
    uint16_t spanHi = 0;
    for (uint64_t j = 0; j < n; ++j) {
        const uint16_t* c = columns + j * 8;
        const uint16_t s = static_cast<uint16_t>(c[0] + c[1] + c[2] + c[3] + c[4] + c[5] + c[6] + c[7]);
        sums[j] = s;
        spanLo = s < spanLo ? s : spanLo;
        spanHi = s > spanHi ? s : spanHi;
    }
    *lo = spanLo;
    *hi = spanHi;
}

// The sums of every whole 8 x 8 block of a picture, span by span along each
// block row: offer(by, b0, sums, n) gets the n sums of block row by from
// block column b0 on.
template <class Offer>
void forEachBlockSpan(const Image* img, Offer offer) {
    const uint64_t blockCols = img->w / 8;
    const uint64_t blockRows = img->h / 8;
    alignas(64) uint16_t columns[BLOCK_SPAN * 8];
    alignas(64) uint16_t sums[BLOCK_SPAN];
    int32_t wide[BLOCK_SPAN];
    for (uint64_t by = 0; by < blockRows; ++by) {
        const uint8_t* top = img->data + by * 8 * img->w;
        for (uint64_t b0 = 0; b0 < blockCols; b0 += BLOCK_SPAN) {
            const uint64_t n = blockCols - b0 < BLOCK_SPAN ? blockCols - b0 : BLOCK_SPAN;
            uint16_t spanLo, spanHi;
            sumBlockSpan(top + b0 * 8, img->w, n, columns, sums, &spanLo, &spanHi);
            for (uint64_t j = 0; j < n; ++j) wide[j] = sums[j];
            offer(by, b0, wide, n);
        }
    }
}

}  // namespace lumaqc
