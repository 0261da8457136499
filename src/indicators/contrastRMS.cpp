#include <cmath>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// Pixels summed side by side in separate lanes, and rounds of LANES pixels
// between two flushes of the lanes: a 16-bit lane holds 256 x 255 and a
// 32-bit lane 256 x 255^2, and the 64 lanes together stay below 2^32.
constexpr uint64_t LANES = 64;
constexpr uint64_t ROUNDS = 256;

struct PixelSums {
    uint64_t sum;
    uint64_t squareSum;
};

// Exact sum and sum of squares of the first n pixels.
static LUMAQC_ALWAYS_INLINE PixelSums pixelSumsBody(const uint8_t* p, uint64_t n) {
    uint64_t sum = 0;
    uint64_t squareSum = 0;
    const uint64_t rounds = n / LANES;
    uint64_t r = 0;
    while (r < rounds) {
        const uint64_t end = rounds - r < ROUNDS ? rounds : r + ROUNDS;
        uint16_t laneSums[LANES] = {};
        uint32_t laneSquares[LANES] = {};
        for (; r < end; ++r) {
            const uint8_t* q = p + r * LANES;
            for (uint64_t k = 0; k < LANES; ++k) {
                laneSums[k] = static_cast<uint16_t>(laneSums[k] + q[k]);
                laneSquares[k] += static_cast<uint16_t>(q[k] * q[k]);
            }
        }
        uint32_t s = 0;
        uint32_t s2 = 0;
        for (uint64_t k = 0; k < LANES; ++k) s += laneSums[k];
        for (uint64_t k = 0; k < LANES; ++k) s2 += laneSquares[k];
        sum += s;
        squareSum += s2;
    }
    for (uint64_t i = rounds * LANES; i < n; ++i) {
        sum += p[i];
        squareSum += static_cast<uint32_t>(p[i]) * p[i];
    }
    return {sum, squareSum};
}

LUMAQC_VARIANTS(PixelSums, pixelSumsVariant, pixelSumsBody, (const uint8_t* p, uint64_t n), (p, n))

#ifdef LUMAQC_X86_VARIANTS
// 32 pixels at a time: their sum in 64-bit lanes (sums of absolute
// differences from 0), their squares multiply-added in pairs into 32-bit
// lanes, 4 squares of at most 65025 per lane and step, for 4096 steps before
// those are carried on in 64 bits.
LUMAQC_TARGET_AVX2 static PixelSums pixelSumsAvx2(const uint8_t* p, uint64_t n) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i sums = zero, squares = zero;
    uint64_t i = 0;
    while (n - i >= 32) {
        const uint64_t steps = (n - i) / 32 < 4096 ? (n - i) / 32 : 4096;
        const uint64_t stop = i + 32 * steps;
        __m256i narrow = zero;
        for (; i < stop; i += 32) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            sums = _mm256_add_epi64(sums, _mm256_sad_epu8(v, zero));
            const __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
            narrow = _mm256_add_epi32(narrow, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
        }
        squares = _mm256_add_epi64(squares, _mm256_unpacklo_epi32(narrow, zero));
        squares = _mm256_add_epi64(squares, _mm256_unpackhi_epi32(narrow, zero));
    }
    uint64_t s[4], q[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(s), sums);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), squares);
    PixelSums out{s[0] + s[1] + s[2] + s[3], q[0] + q[1] + q[2] + q[3]};
    for (; i < n; ++i) {
        out.sum += p[i];
        out.squareSum += static_cast<uint32_t>(p[i]) * p[i];
    }
    return out;
}
#endif

LUMAQC_EXPLICIT_AVX2(PixelSums, pixelSums, pixelSumsAvx2, pixelSumsVariant, (const uint8_t* p, uint64_t n), (p, n))


void contrastSums(Isa isa, const uint8_t* p, uint64_t n, uint64_t* sum, uint64_t* squareSum) {
    const PixelSums sums = pixelSums(isa, p, n);
    *sum += sums.sum;
    *squareSum += sums.squareSum;
}

void contrastBlockSums(const int32_t* sums, const int32_t* squares, uint64_t n, uint64_t* sum, uint64_t* squareSum) {
    uint64_t s = 0, q = 0;
    for (uint64_t j = 0; j < n; ++j) {
        s += static_cast<uint64_t>(static_cast<uint32_t>(sums[j]));
        q += static_cast<uint64_t>(static_cast<uint32_t>(squares[j]));
    }
    *sum += s;
    *squareSum += q;
}

double contrastRMS(const Image* img, IndicatorState& state) {
    const uint32_t count = static_cast<uint32_t>(img->w) * static_cast<uint32_t>(img->h);
    const int32_t n = static_cast<int32_t>(count);

    // The pixel sum is kept in 64 bits so that bright pictures of more than
    // 8.4 million pixels do not wrap; below that it equals the 32-bit sum.
    // A count that does not fit a signed 32-bit value sums no pixel at all.
    const PixelSums sums = n > 0 ? pixelSums(state.isa, img->data, static_cast<uint64_t>(n)) : PixelSums{0, 0};
    return contrastFromSums(img->w, img->h, sums.sum, sums.squareSum);
}

double contrastFromSums(uint64_t w, uint64_t h, uint64_t sumBits, uint64_t squareSumBits) {
    const uint32_t count = static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
    const int32_t n = static_cast<int32_t>(count);
    const int64_t sum = static_cast<int64_t>(sumBits);
    const int64_t squareSum = static_cast<int64_t>(squareSumBits);

    const double nD = static_cast<double>(n);
    const double s = static_cast<double>(sum);
    const double q = static_cast<double>(squareSum);
    const int32_t nMinusOne = static_cast<int32_t>(count - 1u);

    // The reciprocals are multiplied, not divided: the last bit of the mean
    // decides whether a uniform picture gives 0, a tiny value or not-a-number.
    const double m = (1.0 / nD) * s;
    const double d = q - s * m;
    const double v = (1.0 / static_cast<double>(nMinusOne)) * d;
    return std::sqrt(v);
}

}  // namespace lumaqc
