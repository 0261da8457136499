#include <cmath>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

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

LUMAQC_VARIANTS(uint64_t, sobelEnergyVariant, sobelEnergyBody,
                (const uint8_t* data, uint64_t w, uint64_t first, uint64_t end), (data, w, first, end))

#ifdef LUMAQC_X86_VARIANTS
// Rows summed in 32-bit lanes before they are carried on in 64 bits: a lane
// takes two squares of Gx and two of Gy per row, 4 x 1020^2 < 2^31 / 256.
constexpr uint64_t SOBEL_ROW_CHUNK = 256;

// 16 columns x ... x + 15 at a time, walked down the rows, with the Sobel
// operator split the other way round: per row, the horizontal difference
// D = p[x+1] - p[x-1] and smoothing S = p[x-1] + 2 p[x] + p[x+1]; then
// Gx = D(above) + 2 D(row) + D(below) = P(row) + P(below) with
// P(y) = D(y - 1) + D(y), and Gy = S(below) - S(above). Each row is loaded
// once per strip and its D and S serve three output rows.
LUMAQC_TARGET_AVX2 static inline __m256i widened16(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

LUMAQC_TARGET_AVX2 static inline void differenceAndSmoothing(const uint8_t* p, __m256i* d, __m256i* s) {
    const __m256i left = widened16(p - 1), here = widened16(p), right = widened16(p + 1);
    *d = _mm256_sub_epi16(right, left);
    *s = _mm256_add_epi16(_mm256_add_epi16(left, right), _mm256_add_epi16(here, here));
}

// Output row `row`, given P and S of the row and S of the row above, from the
// row below; P and the S pair move down one row. keep masks the lanes of
// columns another strip has counted (only in the last strip).
template <bool Masked>
LUMAQC_TARGET_AVX2 static inline __m256i sobelRowAvx2(const uint8_t* below, __m256i& d, __m256i& p, __m256i& sAbove,
                                                     __m256i& sRow, __m256i keep, __m256i sum) {
    __m256i dBelow, sBelow;
    differenceAndSmoothing(below, &dBelow, &sBelow);
    const __m256i pBelow = _mm256_add_epi16(d, dBelow);
    __m256i gx = _mm256_add_epi16(p, pBelow);
    __m256i gy = _mm256_sub_epi16(sBelow, sAbove);
    if constexpr (Masked) {
        gx = _mm256_and_si256(keep, gx);
        gy = _mm256_and_si256(keep, gy);
    }
    d = dBelow;
    p = pBelow;
    sAbove = sRow;
    sRow = sBelow;
    return _mm256_add_epi32(sum, _mm256_add_epi32(_mm256_madd_epi16(gx, gx), _mm256_madd_epi16(gy, gy)));
}

// The 32-bit sums of `rows` output rows of the strip whose first output
// pixel is column[0].
template <bool Masked>
LUMAQC_TARGET_AVX2 static inline __m256i sobelStripAvx2(const uint8_t* column, uint64_t w, uint64_t rows,
                                                       __m256i keep) {
    __m256i dAbove, sAbove, d, sRow;
    differenceAndSmoothing(column - w, &dAbove, &sAbove);
    differenceAndSmoothing(column, &d, &sRow);
    __m256i p = _mm256_add_epi16(dAbove, d);
    __m256i sum = _mm256_setzero_si256();  // 32-bit lanes
    const uint8_t* below = column + w;
    uint64_t i = 0;
    for (; i + 2 <= rows; i += 2, below += 2 * w) {
        sum = sobelRowAvx2<Masked>(below, d, p, sAbove, sRow, keep, sum);
        sum = sobelRowAvx2<Masked>(below + w, d, p, sAbove, sRow, keep, sum);
    }
    if (i < rows) sum = sobelRowAvx2<Masked>(below, d, p, sAbove, sRow, keep, sum);
    return sum;
}

LUMAQC_TARGET_AVX2 static uint64_t sobelEnergyAvx2(const uint8_t* data, uint64_t w, uint64_t first, uint64_t end) {
    // Interior columns 1 ... w - 2 in strips of 16; the last strip ends at
    // column w - 2 and overlaps the one before it.
    if (w < 18) return sobelEnergyVariant(Isa::Avx2, data, w, first, end);
    const uint64_t strips = (w - 2 + 15) / 16;
    const uint64_t lastStart = w - 17;
    const uint64_t overlap = 1 + 16 * (strips - 1) - lastStart;  // columns of the last strip counted before it
    alignas(32) int16_t lanes[16];
    for (uint64_t i = 0; i < 16; ++i) lanes[i] = static_cast<int16_t>(i < overlap ? 0 : -1);
    const __m256i tail = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
    __m256i total = _mm256_setzero_si256();  // 64-bit lanes
    for (uint64_t y = first; y < end; y += SOBEL_ROW_CHUNK) {
        const uint64_t rows = end - y < SOBEL_ROW_CHUNK ? end - y : SOBEL_ROW_CHUNK;
        const uint8_t* row = data + y * w;
        for (uint64_t s = 0; s < strips; ++s) {
            const __m256i sum = s + 1 == strips ? sobelStripAvx2<true>(row + lastStart, w, rows, tail)
                                                : sobelStripAvx2<false>(row + 1 + 16 * s, w, rows, tail);
            total = _mm256_add_epi64(total, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(sum)));
            total = _mm256_add_epi64(total, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(sum, 1)));
        }
    }
    alignas(32) uint64_t parts[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(parts), total);
    return parts[0] + parts[1] + parts[2] + parts[3];
}
#endif

LUMAQC_EXPLICIT_AVX2(uint64_t, sobelEnergy, sobelEnergyAvx2, sobelEnergyVariant,
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
