#include <cmath>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

// Interior pixels of a row handled per pass through the 16-bit scratch rows.
// A term Gx^2 or Gy^2 is at most 1020^2, so one pass sums at most
// 2 x 1024 x 1040400 < 2^31 in each of two 32-bit sums.
constexpr uint64_t SOBEL_SPAN = 1024;

// Exact sum of Gx^2 + Gy^2 over the interior pixels. Each row is split into
// a vertical smoothing v = above + 2 row + below and a vertical difference
// d = below - above (16 bits each); then Gx = v[x+1] - v[x-1] and
// Gy = d[x-1] + 2 d[x] + d[x+1], whose squares are summed in pairs of 16-bit
// products. Every term is a whole number, so any order of summation gives
// the same total.
// Rows first ... end - 1 (1 <= first, end <= h - 1) are summed.
static LUMAQC_ALWAYS_INLINE uint64_t sobelEnergyBody(const uint8_t* data, uint64_t w, uint64_t first,
                                                    uint64_t end) {
    alignas(64) int16_t smooth[SOBEL_SPAN + 2];
    alignas(64) int16_t diff[SOBEL_SPAN + 2];
    uint64_t energy = 0;
    for (uint64_t y = first; y < end; ++y) {
        const uint8_t* above = data + (y - 1) * w;
        const uint8_t* row = above + w;
        const uint8_t* below = row + w;
        // x0 is the first interior pixel of the span, n its length; the span
        // reads columns x0 - 1 to x0 + n, at most w - 1.
        for (uint64_t x0 = 1; x0 + 1 < w; x0 += SOBEL_SPAN) {
            const uint64_t n = w - 1 - x0 < SOBEL_SPAN ? w - 1 - x0 : SOBEL_SPAN;
            const uint8_t* a = above + x0 - 1;
            const uint8_t* r = row + x0 - 1;
            const uint8_t* b = below + x0 - 1;
            for (uint64_t i = 0; i < n + 2; ++i) {
                smooth[i] = static_cast<int16_t>(a[i] + 2 * r[i] + b[i]);
                diff[i] = static_cast<int16_t>(b[i] - a[i]);
            }
            int32_t sumX = 0;
            int32_t sumY = 0;
            for (uint64_t i = 0; i < n; ++i) {
                const int16_t gx = static_cast<int16_t>(smooth[i + 2] - smooth[i]);
                const int16_t gy = static_cast<int16_t>(diff[i] + 2 * diff[i + 1] + diff[i + 2]);
                sumX += gx * gx;
                sumY += gy * gy;
            }
            energy += static_cast<uint64_t>(sumX) + static_cast<uint64_t>(sumY);
        }
    }
    return energy;
}

LUMAQC_VARIANTS(uint64_t, sobelEnergy, sobelEnergyBody,
                (const uint8_t* data, uint64_t w, uint64_t first, uint64_t end), (data, w, first, end))

// The border pixels take part in the count though not in the sum. An empty
// picture gives 0 / 0, not-a-number. The integer energy stays below 2^53 for
// any picture of fewer than 4e9 pixels, so converting it once gives the same
// double as adding the terms one by one.

double spatialActivity(const Image* img, IndicatorState& state) {
    // Below 3 rows or columns there is no interior pixel and the sum is 0.
    const uint64_t energy = img->h >= 3 ? sobelEnergy(state.isa, img->data, img->w, 1, img->h - 1) : 0;
    return spatialFromEnergy(img->w, img->h, energy);
}

uint64_t sobelEnergyRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end) {
    return first < end ? sobelEnergy(isa, data, w, first, end) : 0;
}

double spatialFromEnergy(uint64_t w, uint64_t h, uint64_t energy) {
    const uint64_t pixels = w * h;
    return std::sqrt(static_cast<double>(energy)) / std::sqrt(static_cast<double>(pixels));
}

}  // namespace lumaqc
