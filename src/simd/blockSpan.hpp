// Sums of 8 x 8 blocks side by side along one block row, shared by the
// indicators that look at block means. Meant to be inlined into the
// instruction-set variants of their loops.
#pragma once

#include <cstdint>

#include "simd/isa.hpp"

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

}  // namespace lumaqc
