#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

namespace reference {

// Four values going down, up, down or up, down, up; equal neighbours break it.
static bool zigzags(uint8_t p0, uint8_t p1, uint8_t p2, uint8_t p3) {
    return (p0 > p1 && p1 < p2 && p2 > p3) || (p0 < p1 && p1 > p2 && p2 < p3);
}

double interlace(const Image* img) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t size = static_cast<uint32_t>(INTERLACE_BLOCKSIZE);
    const uint64_t stride = w;

    // Partial blocks at the right and bottom edges are left out, so the count
    // covers the same whole blocks as the divisor and no row is read past its end.
    double combed = 0.0;
    for (uint64_t y = 0; y + size <= h; y += size) {
        const uint8_t* r0 = img->data + y * stride;
        const uint8_t* r1 = r0 + stride;
        const uint8_t* r2 = r1 + stride;
        const uint8_t* r3 = r2 + stride;
        for (uint64_t x = 0; x + size <= w; x += size) {
            bool all = true;
            for (uint64_t c = x; c < x + size && all; ++c) all = zigzags(r0[c], r1[c], r2[c], r3[c]);
            if (all) combed += 1.0;
        }
    }

    // Below 4 rows or columns there is no whole block: 0 / 0, not-a-number.
    const uint32_t blocks = (w / size) * (h / size);
    return combed / static_cast<double>(blocks);
}

}  // namespace reference

}  // namespace lumaqc
