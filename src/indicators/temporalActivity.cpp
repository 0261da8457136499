#include <cmath>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

// Pixels whose squared differences (each at most 255 * 255) are summed in a
// 32-bit lane before being widened: 16384 * 65025 stays below 2^31.
constexpr uint64_t SQUARE_SUM_CHUNK = 16384;

// Sum of (cur - prev)^2 over the first n buffer positions. The sum of exact
// integers does not depend on the order of the additions, so it is formed
// chunk by chunk in 32 bits (16-bit differences, multiply-add pairs) and
// carried on in 64 bits, wrapping as the literal 64-bit sum would.
static LUMAQC_ALWAYS_INLINE uint64_t squaredDifferenceSumBody(const uint8_t* cur, const uint8_t* prev, uint64_t n) {
    uint64_t total = 0;
    uint64_t i = 0;
    while (i < n) {
        const uint64_t end = n - i > SQUARE_SUM_CHUNK ? i + SQUARE_SUM_CHUNK : n;
        int32_t chunk = 0;
        for (; i < end; ++i) {
            const int16_t d = static_cast<int16_t>(static_cast<int16_t>(cur[i]) - static_cast<int16_t>(prev[i]));
            chunk += static_cast<int32_t>(d) * d;
        }
        total += static_cast<uint64_t>(static_cast<uint32_t>(chunk));
    }
    return total;
}

LUMAQC_VARIANTS(uint64_t, squaredDifferenceSum, squaredDifferenceSumBody,
                (const uint8_t* cur, const uint8_t* prev, uint64_t n), (cur, prev, n))


double temporalActivity(const Image* cur, const Image* prev, IndicatorState& state) {
    const uint64_t pixels = cur->w * cur->h;
    return temporalFromSum(cur->w, cur->h, squaredDifferenceSum(state.isa, cur->data, prev->data, pixels));
}

uint64_t squaredDifferences(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t n) {
    return squaredDifferenceSum(isa, cur, prev, n);
}

double temporalFromSum(uint64_t w, uint64_t h, uint64_t squares) {
    const uint64_t pixels = w * h;
    // An empty picture sums nothing and divides 0 by 0: not-a-number, as for
    // any other quotient that degenerates.
    return std::sqrt(static_cast<double>(squares)) / std::sqrt(static_cast<double>(pixels));
}

}  // namespace lumaqc
