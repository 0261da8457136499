#include <cstring>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// Columns counted per pass through the scratch row of combed-pixel counts
// (a multiple of the block side).
constexpr uint64_t COMB_SPAN = 1024;
// Pixels whose field differences are added in 32 bits before they are
// carried: 65536 differences of at most 255 stay below 2^32.
constexpr uint64_t FIELD_SPAN = 65536;
static_assert(COMB_BLOCKSIZE == 8, "a block's column counts are summed as the eight bytes of one word");

static LUMAQC_ALWAYS_INLINE uint8_t smaller(uint8_t x, uint8_t y) { return x < y ? x : y; }
static LUMAQC_ALWAYS_INLINE uint8_t larger(uint8_t x, uint8_t y) { return x > y ? x : y; }
// x - y, or 0 when y is larger (written so that it vectorises).
static LUMAQC_ALWAYS_INLINE uint8_t above(uint8_t x, uint8_t y) { return static_cast<uint8_t>(x - smaller(x, y)); }

// isCombedPixel in bytes, without branches, so that a whole row of columns
// is tested at once. Both other-field neighbours lie on one side of b by at
// least min(a, c) - b above it or b - max(a, c) below it (both 0 when they
// lie on different sides); the own field's neighbours lie at most
// max(u, d) - b above or b - min(u, d) below it.
static LUMAQC_ALWAYS_INLINE uint8_t combedPixel(uint8_t u, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t apart = larger(above(smaller(a, c), b), above(b, larger(a, c)));
    const uint8_t own = larger(above(larger(u, d), b), above(b, smaller(u, d)));
    // apart > limit and 2 own < apart, that is apart - own > own, each as a
    // difference that stops at 0 (the comparisons bytes have); 1 when both are.
    const uint8_t beyondLimit = above(apart, static_cast<uint8_t>(COMB_DIFFERENCE));
    const uint8_t beyondOwn = above(above(apart, own), own);
    return smaller(smaller(beyondLimit, beyondOwn), 1);
}

// Adds the combed pixels of row b (n of them) to counts.
static LUMAQC_ALWAYS_INLINE void countCombedRow(const uint8_t* __restrict u, const uint8_t* __restrict a,
                                                const uint8_t* __restrict b, const uint8_t* __restrict c,
                                                const uint8_t* __restrict d, uint8_t* __restrict counts,
                                                uint64_t n) {
    for (uint64_t i = 0; i < n; ++i) counts[i] = static_cast<uint8_t>(counts[i] + combedPixel(u[i], a[i], b[i], c[i], d[i]));
}

// Combed blocks of the block rows [first, end) whose columns start at `from`
// (a multiple of the block side): per block row and span of columns, each
// column counts its combed pixels over the block's tested rows (the even rows
// from 2 to h - 3), then every block adds up its columns' counts.
static LUMAQC_ALWAYS_INLINE uint64_t combedBlocksFrom(const uint8_t* data, uint64_t w, uint64_t h, uint64_t first,
                                                     uint64_t end, uint64_t from) {
    alignas(64) uint8_t counts[COMB_SPAN];
    const uint64_t columns = w / COMB_BLOCKSIZE * COMB_BLOCKSIZE;
    uint64_t combed = 0;
    for (uint64_t by = first; by < end; ++by) {
        const uint64_t y0 = by * COMB_BLOCKSIZE < 2 ? 2 : by * COMB_BLOCKSIZE;
        const uint64_t y1 = (by + 1) * COMB_BLOCKSIZE < h - 2 ? (by + 1) * COMB_BLOCKSIZE : h - 2;
        for (uint64_t x0 = from; x0 < columns; x0 += COMB_SPAN) {
            const uint64_t n = columns - x0 < COMB_SPAN ? columns - x0 : COMB_SPAN;
            for (uint64_t i = 0; i < n; ++i) counts[i] = 0;
            for (uint64_t y = y0; y < y1; y += 2) {
                const uint8_t* b = data + y * w + x0;
                countCombedRow(b - 2 * w, b - w, b, b + w, b + 2 * w, counts, n);
            }
            // A block's eight column counts (at most 4 each) add up in the top
            // byte of their product with 0x0101010101010101.
            uint64_t blocks = 0;
            for (uint64_t k = 0; k < n / COMB_BLOCKSIZE; ++k) {
                uint64_t eight;
                std::memcpy(&eight, counts + k * COMB_BLOCKSIZE, sizeof eight);
                blocks += (eight * 0x0101010101010101ull) >> 56 >= static_cast<uint64_t>(COMB_PIXELS) ? 1u : 0u;
            }
            combed += blocks;
        }
    }
    return combed;
}

static LUMAQC_ALWAYS_INLINE uint64_t combedBlocksBody(const uint8_t* data, uint64_t w, uint64_t h, uint64_t first,
                                                     uint64_t end) {
    return combedBlocksFrom(data, w, h, first, end, 0);
}

LUMAQC_VARIANTS(uint64_t, combedBlocksVariant, combedBlocksBody,
                (const uint8_t* data, uint64_t w, uint64_t h, uint64_t first, uint64_t end), (data, w, h, first, end))

#ifdef LUMAQC_X86_VARIANTS
// combedPixel on 32 columns at once, as 0 or 1 per byte.
LUMAQC_TARGET_AVX2 static inline __m256i combedPixels(const uint8_t* b, uint64_t w) {
    auto row = [&](int64_t k) LUMAQC_TARGET_AVX2 {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + static_cast<int64_t>(w) * k));
    };
    const __m256i u = row(-2), a = row(-1), here = row(0), c = row(1), d = row(2);
    const __m256i apart = _mm256_max_epu8(_mm256_subs_epu8(_mm256_min_epu8(a, c), here),
                                          _mm256_subs_epu8(here, _mm256_max_epu8(a, c)));
    const __m256i own = _mm256_max_epu8(_mm256_subs_epu8(_mm256_max_epu8(u, d), here),
                                        _mm256_subs_epu8(here, _mm256_min_epu8(u, d)));
    const __m256i beyondLimit = _mm256_subs_epu8(apart, _mm256_set1_epi8(static_cast<char>(COMB_DIFFERENCE)));
    const __m256i beyondOwn = _mm256_subs_epu8(_mm256_subs_epu8(apart, own), own);
    return _mm256_min_epu8(_mm256_min_epu8(beyondLimit, beyondOwn), _mm256_set1_epi8(1));
}

// Four blocks (32 columns) at a time: the tested rows' combed pixels add up
// per column in bytes (at most 4), and each block's eight columns in one
// 64-bit lane of a sum of absolute differences from 0.
LUMAQC_TARGET_AVX2 static uint64_t combedBlocksAvx2(const uint8_t* data, uint64_t w, uint64_t h, uint64_t first,
                                                   uint64_t end) {
    const uint64_t columns = w / COMB_BLOCKSIZE * COMB_BLOCKSIZE;
    const uint64_t whole = columns / 32 * 32;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i fewest = _mm256_set1_epi64x(COMB_PIXELS - 1);
    uint64_t combed = 0;
    for (uint64_t by = first; by < end; ++by) {
        const uint64_t y0 = by * COMB_BLOCKSIZE < 2 ? 2 : by * COMB_BLOCKSIZE;
        const uint64_t y1 = (by + 1) * COMB_BLOCKSIZE < h - 2 ? (by + 1) * COMB_BLOCKSIZE : h - 2;
        for (uint64_t x = 0; x < whole; x += 32) {
            __m256i counts = zero;
            for (uint64_t y = y0; y < y1; y += 2) counts = _mm256_add_epi8(counts, combedPixels(data + y * w + x, w));
            const __m256i blocks = _mm256_cmpgt_epi64(_mm256_sad_epu8(counts, zero), fewest);
            combed += static_cast<uint64_t>(
                __builtin_popcount(static_cast<uint32_t>(_mm256_movemask_pd(_mm256_castsi256_pd(blocks)))));
        }
        if (whole < columns) combed += combedBlocksFrom(data, w, h, by, by + 1, whole);
    }
    return combed;
}
#endif

LUMAQC_EXPLICIT_AVX2(uint64_t, combedBlocks, combedBlocksAvx2, combedBlocksVariant,
                     (const uint8_t* data, uint64_t w, uint64_t h, uint64_t first, uint64_t end),
                     (data, w, h, first, end))

uint64_t combedBlockRowsOf(Isa isa, const uint8_t* data, uint64_t w, uint64_t h, uint64_t first, uint64_t end) {
    // Rows 2 to h - 3 are tested: pictures of fewer than 5 rows have none.
    if (end <= first || h < 5) return 0;
    return combedBlocks(isa, data, w, h, first, end);
}

double combingFromCount(uint64_t w, uint64_t h, uint64_t combed) {
    // A whole number far below 2^53; no whole block at all gives 0 / 0, not-a-number.
    const uint64_t blocks = (w / COMB_BLOCKSIZE) * (h / COMB_BLOCKSIZE);
    return static_cast<double>(combed) / static_cast<double>(blocks);
}

double combing(const Image* img, IndicatorState& state) {
    const uint64_t combed = combedBlockRowsOf(state.isa, img->data, img->w, img->h, 0, img->h / COMB_BLOCKSIZE);
    return combingFromCount(img->w, img->h, combed);
}

// Adds, over the rows y of [first, end) (1 <= first, end <= h - 1) with y % 4
// of 1 or 2 (an odd and an even row of every four: enough for a sum over the
// picture, at half the cost), the distance of the row from the rows of the
// other field of the picture before around it, |cur(y) - (prev(y - 1) +
// prev(y + 1) + 1) / 2|: even rows to sums[0], odd rows to sums[1].
static LUMAQC_ALWAYS_INLINE void fieldDistancesBody(const uint8_t* cur, const uint8_t* prev, uint64_t w,
                                                    uint64_t first, uint64_t end, uint64_t* sums) {
    for (uint64_t y = first; y < end; ++y) {
        if (y % 4 == 0 || y % 4 == 3) continue;
        const uint8_t* p = cur + y * w;
        const uint8_t* above = prev + (y - 1) * w;
        const uint8_t* below = prev + (y + 1) * w;
        uint64_t row = 0;
        for (uint64_t x0 = 0; x0 < w; x0 += FIELD_SPAN) {
            const uint64_t x1 = w - x0 < FIELD_SPAN ? w : x0 + FIELD_SPAN;
            uint32_t s = 0;
            for (uint64_t x = x0; x < x1; ++x) {
                const uint8_t mean = static_cast<uint8_t>((above[x] + below[x] + 1) >> 1);
                const int32_t v = static_cast<int32_t>(p[x]) - mean;
                s += static_cast<uint32_t>(v < 0 ? -v : v);
            }
            row += s;
        }
        sums[y & 1] += row;
    }
}

LUMAQC_VARIANTS(void, fieldDistancesVariant, fieldDistancesBody,
                (const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t first, uint64_t end, uint64_t* sums),
                (cur, prev, w, first, end, sums))

#ifdef LUMAQC_X86_VARIANTS
// 32 columns at a time: the rounded mean of the two rows is the bytes'
// average, and the distances are a sum of absolute differences per eight.
LUMAQC_TARGET_AVX2 static void fieldDistancesAvx2(const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t first,
                                                  uint64_t end, uint64_t* sums) {
    const uint64_t whole = w / 32 * 32;
    for (uint64_t y = first; y < end; ++y) {
        if (y % 4 == 0 || y % 4 == 3) continue;
        const uint8_t* p = cur + y * w;
        const uint8_t* above = prev + (y - 1) * w;
        const uint8_t* below = prev + (y + 1) * w;
        __m256i row = _mm256_setzero_si256();
        for (uint64_t x = 0; x < whole; x += 32) {
            const __m256i mean = _mm256_avg_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + x)),
                                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(below + x)));
            row = _mm256_add_epi64(
                row, _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x)), mean));
        }
        alignas(32) uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), row);
        uint64_t total = lanes[0] + lanes[1] + lanes[2] + lanes[3];
        for (uint64_t x = whole; x < w; ++x) {
            const uint8_t mean = static_cast<uint8_t>((above[x] + below[x] + 1) >> 1);
            total += static_cast<uint64_t>(p[x] > mean ? p[x] - mean : mean - p[x]);
        }
        sums[y & 1] += total;
    }
}
#endif

LUMAQC_EXPLICIT_AVX2(void, fieldDistances, fieldDistancesAvx2, fieldDistancesVariant,
                     (const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t first, uint64_t end,
                      uint64_t* sums),
                     (cur, prev, w, first, end, sums))

void fieldDistanceRows(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t h, uint64_t first,
                       uint64_t end, uint64_t* sums) {
    if (h < 3) return;
    const uint64_t from = first < 1 ? 1 : first;
    const uint64_t to = end < h - 1 ? end : h - 1;
    if (to <= from) return;
    fieldDistances(isa, cur, prev, w, from, to, sums);
}

double fieldOrderFromSums(const uint64_t* sums) {
    // Whole numbers below 2^53: each converts exactly.
    const double top = static_cast<double>(sums[0]);
    const double bottom = static_cast<double>(sums[1]);
    return top + bottom == 0.0 ? 0.0 : (bottom - top) / (bottom + top);
}

double fieldOrder(const Image* cur, const Image* prev, IndicatorState& state) {
    uint64_t sums[2] = {0, 0};
    fieldDistanceRows(state.isa, cur->data, prev->data, cur->w, cur->h, 0, cur->h, sums);
    return fieldOrderFromSums(sums);
}

}  // namespace lumaqc
