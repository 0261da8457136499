#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// Columns tested per pass through the scratch row of zigzag flags.
constexpr uint64_t INTERLACE_SPAN = 1024;

// Four values going down, up, down or up, down, up; equal neighbours break it.
// Written without branches so that a whole row of columns is tested at once.
static LUMAQC_ALWAYS_INLINE uint8_t zigzags(uint8_t p0, uint8_t p1, uint8_t p2, uint8_t p3) {
    return static_cast<uint8_t>(((p0 > p1) & (p1 < p2) & (p2 > p3)) | ((p0 < p1) & (p1 > p2) & (p2 < p3)));
}

// Number of whole 4 x 4 blocks whose four columns all zigzag. Per band of
// four rows, every column of the whole blocks gets a flag byte (0 or 1);
// a block is combed when its four flag bytes, read as one 32-bit word, are
// all 1.
static LUMAQC_ALWAYS_INLINE uint64_t combedBlocksBody(const uint8_t* data, uint64_t stride, uint64_t blockCols,
                                                     uint64_t blockRows) {
    constexpr uint32_t allColumns = 0x01010101u;
    alignas(64) uint8_t flags[INTERLACE_SPAN];
    const uint64_t columns = blockCols * INTERLACE_BLOCKSIZE;
    uint64_t combed = 0;
    for (uint64_t by = 0; by < blockRows; ++by) {
        const uint8_t* r0 = data + by * INTERLACE_BLOCKSIZE * stride;
        for (uint64_t x0 = 0; x0 < columns; x0 += INTERLACE_SPAN) {
            const uint64_t n = columns - x0 < INTERLACE_SPAN ? columns - x0 : INTERLACE_SPAN;
            const uint8_t* a = r0 + x0;
            const uint8_t* b = a + stride;
            const uint8_t* c = b + stride;
            const uint8_t* d = c + stride;
            for (uint64_t i = 0; i < n; ++i) flags[i] = zigzags(a[i], b[i], c[i], d[i]);
            uint32_t count = 0;
            for (uint64_t k = 0; k < n / INTERLACE_BLOCKSIZE; ++k) {
                uint32_t word;
                __builtin_memcpy(&word, flags + k * INTERLACE_BLOCKSIZE, sizeof word);
                count += word == allColumns ? 1u : 0u;
            }
            combed += count;
        }
    }
    return combed;
}

LUMAQC_VARIANTS(uint64_t, combedBlocksVariant, combedBlocksBody,
                (const uint8_t* data, uint64_t stride, uint64_t blockCols, uint64_t blockRows),
                (data, stride, blockCols, blockRows))

#ifdef LUMAQC_X86_VARIANTS
// Eight blocks (32 columns) at a time. x > y exactly when the saturating
// x - y is not 0, so a column zigzags when the smallest of its three
// saturating steps in one of the two patterns is not 0; a block is combed
// when none of its four bytes is 0.
LUMAQC_TARGET_AVX2 static uint64_t combedBlocksAvx2(const uint8_t* data, uint64_t stride, uint64_t blockCols,
                                                   uint64_t blockRows) {
    const uint64_t columns = blockCols * INTERLACE_BLOCKSIZE;
    const uint64_t whole = columns / 32 * 32;
    const __m256i zero = _mm256_setzero_si256();
    uint64_t combed = 0;
    for (uint64_t by = 0; by < blockRows; ++by) {
        const uint8_t* r0 = data + by * INTERLACE_BLOCKSIZE * stride;
        for (uint64_t x = 0; x < whole; x += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + x));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + stride + x));
            const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + 2 * stride + x));
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + 3 * stride + x));
            const __m256i down = _mm256_min_epu8(_mm256_min_epu8(_mm256_subs_epu8(a, b), _mm256_subs_epu8(c, b)),
                                                 _mm256_subs_epu8(c, d));
            const __m256i up = _mm256_min_epu8(_mm256_min_epu8(_mm256_subs_epu8(b, a), _mm256_subs_epu8(b, c)),
                                               _mm256_subs_epu8(d, c));
            const __m256i flat = _mm256_cmpeq_epi8(_mm256_or_si256(down, up), zero);
            const __m256i blocks = _mm256_cmpeq_epi32(flat, zero);
            combed += static_cast<uint64_t>(__builtin_popcount(
                static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(blocks)))));
        }
        if (whole < columns) combed += combedBlocksBody(r0 + whole, stride, (columns - whole) / INTERLACE_BLOCKSIZE, 1);
    }
    return combed;
}
#endif

LUMAQC_EXPLICIT_AVX2(uint64_t, combedBlocks, combedBlocksAvx2, combedBlocksVariant,
                     (const uint8_t* data, uint64_t stride, uint64_t blockCols, uint64_t blockRows),
                     (data, stride, blockCols, blockRows))


double interlace(const Image* img, IndicatorState& state) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t size = static_cast<uint32_t>(INTERLACE_BLOCKSIZE);

    // Partial blocks at the right and bottom edges are left out, so the count
    // covers the same whole blocks as the divisor and no row is read past its
    // end.
    const uint64_t combed = combedBlocks(state.isa, img->data, w, w / size, h / size);
    return interlaceFromCount(img->w, img->h, combed);
}

uint64_t combedBlockRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end) {
    if (end <= first) return 0;
    const uint32_t size = static_cast<uint32_t>(INTERLACE_BLOCKSIZE);
    return combedBlocks(isa, data + first * size * w, w, static_cast<uint32_t>(w) / size, end - first);
}

double interlaceFromCount(uint64_t wide, uint64_t high, uint64_t combed) {
    const uint32_t w = static_cast<uint32_t>(wide);
    const uint32_t h = static_cast<uint32_t>(high);
    const uint32_t size = static_cast<uint32_t>(INTERLACE_BLOCKSIZE);
    // The count is a whole number far below 2^53: converting it once gives
    // the same double as adding 1.0 per combed block. Below 4 rows or columns
    // there is no whole block: 0 / 0, not-a-number.
    const uint32_t blocks = (w / size) * (h / size);
    return static_cast<double>(combed) / static_cast<double>(blocks);
}

}  // namespace lumaqc
