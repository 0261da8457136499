// The walk the backward-difference operators share (roberts, gradient,
// absGradient), and the size conditions they check.
#pragma once

#include <cstdint>

#include "tools/pictures.hpp"

namespace lumaqc {

inline constexpr const char* kDestXMatches = "src->h == destX->h && src->w == destX->w";
inline constexpr const char* kDestYMatches = "src->h == destY->h && src->w == destY->w";

// Row 0 and column 0 of both destinations are 0; every other pixel gets
// pair(above, row, x, dx, dy).
template <typename PixelPair>
void rowPairWalk(const Image* src, Image32* destX, Image32* destY, PixelPair pair) {
    const uint64_t w = src->w;
    const uint32_t h = static_cast<uint32_t>(src->h);
    if (w == 0 || h == 0) return;
    for (uint64_t x = 0; x < w; ++x) destX->data[x] = destY->data[x] = 0;
    for (uint32_t y = 1; y < h; ++y) {
        const uint8_t* above = src->data + (y - 1) * w;
        const uint8_t* row = above + w;
        int32_t* dx = destX->data + y * w;
        int32_t* dy = destY->data + y * w;
        dx[0] = dy[0] = 0;
        for (uint64_t x = 1; x < w; ++x) pair(above, row, x, dx, dy);
    }
}

}  // namespace lumaqc
