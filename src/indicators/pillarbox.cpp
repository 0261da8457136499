#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

namespace lumaqc {



// Pixels compared per step of the run search before it looks for the end.
constexpr uint64_t PILLARBOX_SPAN = 64;

// The first x below limit where row[x] differs from row[x + 1], or limit if
// there is none. Reads row[0] to row[limit].
static LUMAQC_ALWAYS_INLINE uint64_t firstStep(const uint8_t* row, uint64_t limit) {
    uint64_t x0 = 0;
    for (; x0 + PILLARBOX_SPAN <= limit; x0 += PILLARBOX_SPAN) {
        uint8_t differs = 0;
        for (uint64_t i = 0; i < PILLARBOX_SPAN; ++i) differs |= static_cast<uint8_t>(row[x0 + i] ^ row[x0 + i + 1]);
        if (differs) break;
    }
    for (uint64_t x = x0; x < limit; ++x)
        if (row[x] != row[x + 1]) return x;
    return limit;
}

// Column i passes when it equals column i + 1 on every examined row, so the
// leading run of passing columns ends at the first step of whichever
// examined row steps first: the rows are walked one by one, each only as far
// as the shortest run found so far. halfW is at least 1.
static LUMAQC_ALWAYS_INLINE uint32_t matchingColumnsBody(const uint8_t* data, uint32_t w, uint32_t h,
                                                         uint32_t halfW) {
    const uint32_t halfH = h >> 1;
    const uint64_t stride = w;
    uint64_t count = halfW;
    for (uint32_t j = 0; j < halfH && count > 0; ++j) {
        count = firstStep(data + j * stride, count);
        count = firstStep(data + (h - 1 - j) * stride, count);
    }
    return static_cast<uint32_t>(count);
}

LUMAQC_VARIANTS(uint32_t, matchingColumns, matchingColumnsBody,
                (const uint8_t* data, uint32_t w, uint32_t h, uint32_t halfW), (data, w, h, halfW))


double pillarbox(const Image* img, IndicatorState& state) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t halfW = w >> 1;
    // Only the left half is looked at: a bar at the right edge alone counts
    // for nothing. The middle row of an odd height is not compared. The
    // count is a whole number: converted once it is the double that adding
    // 1.0 per column gives. With no column pair at all (w < 2) this is
    // 0 / 0, not-a-number.
    const uint32_t count = halfW == 0 ? 0 : matchingColumns(state.isa, img->data, w, h, halfW);
    return static_cast<double>(count) / static_cast<double>(halfW);
}

}  // namespace lumaqc
