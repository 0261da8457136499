#include <cmath>
#include <cstring>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

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

// One row of 8 x 8 blocks (rows cur ... cur + 7 w), portable: the squared
// differences of all w columns, and for each whole block whether any of its
// pixels differs (the sum of its absolute differences is not 0). With Sums,
// also the largest |block sum of cur - block sum of prev| of the row's whole
// blocks into *largest, for block difference, from the same reads.
template <bool Sums>
static LUMAQC_ALWAYS_INLINE uint64_t blockRowDifferencesPlain(const uint8_t* cur, const uint8_t* prev, uint64_t w,
                                                             uint64_t from, uint8_t* changes, int32_t* largest) {
    const uint64_t blockCols = w / 8;
    uint64_t total = 0;
    int32_t most = 0;
    for (uint64_t bx = from / 8; bx < blockCols; ++bx) {
        uint32_t squares = 0;  // at most 64 * 65025
        uint32_t any = 0;
        int32_t change = 0;  // at most 64 * 255 either way
        for (uint64_t j = 0; j < 8; ++j) {
            const uint8_t* c = cur + j * w + 8 * bx;
            const uint8_t* p = prev + j * w + 8 * bx;
            for (int i = 0; i < 8; ++i) {
                const uint32_t d = c[i] > p[i] ? c[i] - p[i] : p[i] - c[i];
                any |= d;
                squares += d * d;
                if constexpr (Sums) change += static_cast<int32_t>(c[i]) - static_cast<int32_t>(p[i]);
            }
        }
        changes[bx] = any != 0 ? 1 : 0;
        total += squares;
        if constexpr (Sums) {
            const int32_t size = change < 0 ? -change : change;
            most = size > most ? size : most;
        }
    }
    for (uint64_t j = 0; j < 8; ++j)
        for (uint64_t x = 8 * blockCols; x < w; ++x) {
            const int32_t d = static_cast<int32_t>(cur[j * w + x]) - prev[j * w + x];
            total += static_cast<uint64_t>(d * d);
        }
    if constexpr (Sums) *largest = most > *largest ? most : *largest;
    return total;
}

template <bool Sums>
static LUMAQC_ALWAYS_INLINE uint64_t blockRowDifferencesBody(const uint8_t* cur, const uint8_t* prev, uint64_t w,
                                                            uint8_t* changes, int32_t* largest) {
    return blockRowDifferencesPlain<Sums>(cur, prev, w, 0, changes, largest);
}
LUMAQC_VARIANTS(uint64_t, blockRowDifferencesVariant, blockRowDifferencesBody<false>,
                (const uint8_t* cur, const uint8_t* prev, uint64_t w, uint8_t* changes, int32_t* largest),
                (cur, prev, w, changes, largest))
LUMAQC_VARIANTS(uint64_t, blockRowChangesVariant, blockRowDifferencesBody<true>,
                (const uint8_t* cur, const uint8_t* prev, uint64_t w, uint8_t* changes, int32_t* largest),
                (cur, prev, w, changes, largest))

#ifdef LUMAQC_X86_VARIANTS
// The four change bytes of four blocks from the bits of those that changed
// (a table rather than a bit deposit, which some processors run slowly).
constexpr uint8_t kChangeBytes[16][4] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {1, 1, 0, 0},
                                         {0, 0, 1, 0}, {1, 0, 1, 0}, {0, 1, 1, 0}, {1, 1, 1, 0},
                                         {0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1},
                                         {0, 0, 1, 1}, {1, 0, 1, 1}, {0, 1, 1, 1}, {1, 1, 1, 1}};

// 32 columns (four blocks) at a time: the absolute differences of the eight
// rows, or-ed per 64-bit lane (one block each), and their squares summed in
// 32-bit lanes, which hold 1024 such columns (8 rows * 4 squares * 65025
// each) before they are carried on in 64 bits. With Sums, a 64-bit lane of
// _mm256_sad_epu8 against zero sums one block's row: of the absolute
// differences (all 0 where the block did not change) and of the rises
// max(cur - prev, 0), so that the block sum's change is twice the rises less
// the absolute differences, formed in the low 32 bits of the lane (the high
// half stays 0) within 64 * 255 either way.
template <bool Sums>
LUMAQC_TARGET_AVX2 static uint64_t blockRowDifferencesAvx2(const uint8_t* cur, const uint8_t* prev, uint64_t w,
                                                           uint8_t* changes, int32_t* largest) {
    const uint64_t whole = w / 8 * 8 / 32 * 32;
    const __m256i zero = _mm256_setzero_si256();
    __m256i wide = zero;  // 64-bit lanes
    __m256i most = zero;  // the largest change of a block sum, per 32-bit lane
    uint64_t x = 0;
    while (x < whole) {
        const uint64_t end = whole - x > 1024 * 32 ? x + 1024 * 32 : whole;
        __m256i narrow = zero;  // 32-bit lanes
        for (; x < end; x += 32) {
            __m256i any = zero;  // with Sums, the sums of the absolute differences
            __m256i rises = zero;
            for (uint64_t j = 0; j < 8; ++j) {
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + j * w + x));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev + j * w + x));
                const __m256i up = _mm256_subs_epu8(a, b);
                const __m256i d = _mm256_or_si256(up, _mm256_subs_epu8(b, a));
                if constexpr (Sums) {
                    any = _mm256_add_epi32(any, _mm256_sad_epu8(d, zero));
                    rises = _mm256_add_epi32(rises, _mm256_sad_epu8(up, zero));
                } else {
                    any = _mm256_or_si256(any, d);
                }
                const __m256i lo = _mm256_unpacklo_epi8(d, zero);
                const __m256i hi = _mm256_unpackhi_epi8(d, zero);
                narrow = _mm256_add_epi32(narrow, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
                LUMAQC_IN_REGISTERS(narrow, rises, any);
            }
            const uint32_t same =
                static_cast<uint32_t>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(any, zero))));
            std::memcpy(changes + x / 8, kChangeBytes[~same & 0xfu], 4);
            if constexpr (Sums) {
                const __m256i change = _mm256_sub_epi32(_mm256_add_epi32(rises, rises), any);
                most = _mm256_max_epi32(most, _mm256_abs_epi32(change));
            }
        }
        wide = _mm256_add_epi64(wide, _mm256_unpacklo_epi32(narrow, zero));
        wide = _mm256_add_epi64(wide, _mm256_unpackhi_epi32(narrow, zero));
    }
    if constexpr (Sums) {
        __m256i m = _mm256_max_epi32(most, _mm256_permute2x128_si256(most, most, 1));
        m = _mm256_max_epi32(m, _mm256_shuffle_epi32(m, 0x4e));
        const int32_t found = _mm256_cvtsi256_si32(m);  // the high 32 bits of each lane are 0
        *largest = found > *largest ? found : *largest;
    }
    uint64_t lanes[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), wide);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3] +
           blockRowDifferencesPlain<Sums>(cur, prev, w, whole, changes, largest);
}
#endif

LUMAQC_EXPLICIT_AVX2(uint64_t, blockRowDifferences, blockRowDifferencesAvx2<false>, blockRowDifferencesVariant,
                     (const uint8_t* cur, const uint8_t* prev, uint64_t w, uint8_t* changes, int32_t* largest),
                     (cur, prev, w, changes, largest))
LUMAQC_EXPLICIT_AVX2(uint64_t, blockRowChanges, blockRowDifferencesAvx2<true>, blockRowChangesVariant,
                     (const uint8_t* cur, const uint8_t* prev, uint64_t w, uint8_t* changes, int32_t* largest),
                     (cur, prev, w, changes, largest))

uint64_t temporalBlockRows(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t y0, uint64_t y1,
                           uint8_t* changes, int32_t* largest) {
    uint64_t total = 0;
    const uint64_t blockCols = w / 8;
    uint64_t y = y0;
    for (; y + 8 <= y1; y += 8)
        total += largest != nullptr
                     ? blockRowChanges(isa, cur + y * w, prev + y * w, w, changes + y / 8 * blockCols, largest)
                     : blockRowDifferences(isa, cur + y * w, prev + y * w, w, changes + y / 8 * blockCols, nullptr);
    // Rows below the last whole block row have squares but no blocks.
    if (y < y1) total += squaredDifferenceSum(isa, cur + y * w, prev + y * w, (y1 - y) * w);
    return total;
}

double temporalFromSum(uint64_t w, uint64_t h, uint64_t squares) {
    const uint64_t pixels = w * h;
    // An empty picture sums nothing and divides 0 by 0: not-a-number, as for
    // any other quotient that degenerates.
    return std::sqrt(static_cast<double>(squares)) / std::sqrt(static_cast<double>(pixels));
}

}  // namespace lumaqc
