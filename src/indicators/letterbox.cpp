#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

namespace lumaqc {



// Pixels compared per step of the flat-row test before it looks for a difference.
constexpr uint64_t LETTERBOX_SPAN = 64;

// Every pixel of the row equals the first one, which is the same as every
// pixel equalling its right neighbour. w is at least 1.
static LUMAQC_ALWAYS_INLINE bool rowIsFlat(const uint8_t* row, uint64_t w) {
    const uint8_t first = row[0];
    uint64_t x0 = 0;
    for (; x0 + LETTERBOX_SPAN <= w; x0 += LETTERBOX_SPAN) {
        uint8_t differs = 0;
        for (uint64_t i = 0; i < LETTERBOX_SPAN; ++i) differs |= static_cast<uint8_t>(row[x0 + i] ^ first);
        if (differs) return false;
    }
    uint8_t differs = 0;
    for (uint64_t x = x0; x < w; ++x) differs |= static_cast<uint8_t>(row[x] ^ first);
    return differs == 0;
}

// Number of row pairs (i, h - 1 - i), from the outside in, that are both
// flat, up to the first that is not. w is at least 2.
static LUMAQC_ALWAYS_INLINE uint32_t flatRowPairsBody(const uint8_t* data, uint32_t w, uint32_t h) {
    const uint32_t halfH = h >> 1;
    uint32_t count = 0;
    while (count < halfH && rowIsFlat(data + static_cast<uint64_t>(count) * w, w) &&
           rowIsFlat(data + static_cast<uint64_t>(h - 1 - count) * w, w))
        ++count;
    return count;
}

LUMAQC_VARIANTS(uint32_t, flatRowPairs, flatRowPairsBody, (const uint8_t* data, uint32_t w, uint32_t h),
                (data, w, h))


double letterbox(const Image* img, IndicatorState& state) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t halfH = h >> 1;
    // Pairs of rows from the outside in; the first pair with detail ends the
    // bar. Rows of fewer than two pixels are always flat. The count is a
    // whole number: converted once it is the double that adding 1.0 per pair
    // gives. With no pair at all (h < 2) this is 0 / 0, not-a-number.
    const uint32_t count = w < 2 ? halfH : flatRowPairs(state.isa, img->data, w, h);
    return static_cast<double>(count) / static_cast<double>(halfH);
}

}  // namespace lumaqc
