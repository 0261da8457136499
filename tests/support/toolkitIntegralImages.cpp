#include <cstring>

#include "support/toolkit.hpp"

namespace lumaqc {

// Sums are kept in uint32_t and stored through an explicit conversion, so
// that the 32-bit wrap-around of large pictures is well defined.

int32_t sumH(const uint8_t* data, int32_t w, int32_t h) {
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(h));
    if (n <= 0) return 0;
    uint32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += data[i];
    return static_cast<int32_t>(sum);
}

int32_t sumV(const uint8_t* data, int32_t w, int32_t h) {
    if (w <= 0) return 0;
    uint32_t sum = 0;
    for (int64_t c = 0; c < w; ++c)
        for (int64_t r = 0; r < h; ++r) sum += data[c + r * w];
    return static_cast<int32_t>(sum);
}

void integrate(const Image* src, Image32* dest) {
    const uint64_t w = src->w;
    const uint64_t h = src->h;
    if (w == 0 || h == 0) return;
    const uint8_t* in = src->data;
    int32_t* out = dest->data;
    uint32_t running = 0;
    for (uint64_t x = 0; x < w; ++x) {
        running += in[x];
        out[x] = static_cast<int32_t>(running);
    }
    for (uint64_t y = 1; y < h; ++y) {
        const uint8_t* row = in + y * w;
        const int32_t* above = out + (y - 1) * w;
        int32_t* line = out + y * w;
        running = 0;
        for (uint64_t x = 0; x < w; ++x) {
            running += row[x];
            line[x] = static_cast<int32_t>(static_cast<uint32_t>(above[x]) + running);
        }
    }
}

void onlyCopy(const Image* src, Image* dest) {
    const uint64_t w = src->w;
    if (w == 0) return;
    for (uint64_t y = 0; y < src->h; ++y) std::memcpy(dest->data + y * w, src->data + y * w, w);
}

// D[i][j] from the four corners of block (i, j) in a table addressed through
// corner(y, x); the first block row and column have no corners above or left.
template <typename Corner>
static void blockSumsFromCorners(Corner corner, Image32* dest, uint64_t bw, uint64_t bh) {
    const uint64_t dw = dest->w;
    const uint64_t dh = dest->h;
    // An empty grid or block has no last row or column to read.
    if (dw == 0 || dh == 0 || bw == 0 || bh == 0) return;
    int32_t* out = dest->data;
    uint64_t yb = bh - 1;
    out[0] = static_cast<int32_t>(corner(yb, bw - 1));
    for (uint64_t j = 1; j < dw; ++j)
        out[j] = static_cast<int32_t>(corner(yb, (j + 1) * bw - 1) - corner(yb, j * bw - 1));
    for (uint64_t i = 1; i < dh; ++i) {
        const uint64_t ya = yb;
        yb += bh;
        int32_t* line = out + i * dw;
        line[0] = static_cast<int32_t>(corner(yb, bw - 1) - corner(ya, bw - 1));
        for (uint64_t j = 1; j < dw; ++j) {
            const uint64_t xr = (j + 1) * bw - 1;
            const uint64_t xl = j * bw - 1;
            line[j] = static_cast<int32_t>(corner(yb, xr) - corner(yb, xl) - corner(ya, xr) + corner(ya, xl));
        }
    }
}

void blockSumsInteg(const Image32* integral, Image32* dest, uint64_t bw, uint64_t bh) {
    const int32_t* table = integral->data;
    const uint64_t stride = integral->w;
    blockSumsFromCorners(
        [table, stride](uint64_t y, uint64_t x) { return static_cast<uint32_t>(table[y * stride + x]); }, dest,
        bw, bh);
}

void blockSumsInteg2(const Image* corners, Image32* dest, uint64_t bw, uint64_t bh) {
    // Byte corners differ by at most 510 in either direction: plain int32 arithmetic.
    const uint8_t* table = corners->data;
    const uint64_t stride = corners->w;
    blockSumsFromCorners(
        [table, stride](uint64_t y, uint64_t x) { return static_cast<int32_t>(table[y * stride + x]); }, dest, bw,
        bh);
}

}  // namespace lumaqc
