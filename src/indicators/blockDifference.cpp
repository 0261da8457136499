#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// Largest sum of absolute differences of a whole 8 x 8 block of the block
// rows [first, end), portable: block by block, row by row.
static uint32_t largestBlockSadPlain(const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t first,
                                     uint64_t end) {
    const uint64_t blockCols = w / BLOCKSIZE;
    uint32_t hi = 0;
    for (uint64_t by = first; by < end; ++by) {
        for (uint64_t bx = 0; bx < blockCols; ++bx) {
            const uint64_t at = by * BLOCKSIZE * w + bx * BLOCKSIZE;
            uint32_t sad = 0;
            for (uint64_t j = 0; j < BLOCKSIZE; ++j)
                for (uint64_t i = 0; i < BLOCKSIZE; ++i) {
                    const uint8_t a = cur[at + j * w + i], b = prev[at + j * w + i];
                    sad += static_cast<uint32_t>(a > b ? a - b : b - a);
                }
            hi = sad > hi ? sad : hi;
        }
    }
    return hi;
}

#ifdef LUMAQC_X86_VARIANTS
// The byte-wise sum of absolute differences instruction sums each group of 8
// bytes, exactly one block wide: eight rows of loads give the block sums, one
// per 64-bit lane; the lanes' maximum is kept in 64 bits (sums stay below 2^14).
LUMAQC_TARGET_AVX2 static uint32_t largestBlockSadAvx2(const uint8_t* cur, const uint8_t* prev, uint64_t w,
                                                       uint64_t first, uint64_t end) {
    const uint64_t width = w / BLOCKSIZE * BLOCKSIZE;
    __m256i wide = _mm256_setzero_si256();
    __m128i narrow = _mm_setzero_si128();
    for (uint64_t by = first; by < end; ++by) {
        const uint64_t top = by * BLOCKSIZE * w;
        uint64_t x = 0;
        for (; x + 32 <= width; x += 32) {
            __m256i sum = _mm256_setzero_si256();
            for (uint64_t j = 0; j < BLOCKSIZE; ++j) {
                const uint64_t at = top + j * w + x;
                sum = _mm256_add_epi64(sum,
                                       _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + at)),
                                                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev + at))));
            }
            wide = _mm256_max_epu32(wide, sum);
        }
        for (; x + 16 <= width; x += 16) {
            __m128i sum = _mm_setzero_si128();
            for (uint64_t j = 0; j < BLOCKSIZE; ++j) {
                const uint64_t at = top + j * w + x;
                sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + at)),
                                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + at))));
            }
            narrow = _mm_max_epu32(narrow, sum);
        }
        if (x < width) {
            __m128i sum = _mm_setzero_si128();
            for (uint64_t j = 0; j < BLOCKSIZE; ++j) {
                const uint64_t at = top + j * w + x;
                sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cur + at)),
                                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(prev + at))));
            }
            narrow = _mm_max_epu32(narrow, sum);
        }
    }
    narrow = _mm_max_epu32(narrow, _mm_max_epu32(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1)));
    // The sums sit in the low 32 bits of each 64-bit lane; the high halves are 0.
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_max_epu32(narrow, _mm_srli_si128(narrow, 8)), 0));
}
#endif

static uint32_t largestBlockSad(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t first,
                                uint64_t end) {
#ifdef LUMAQC_X86_VARIANTS
    // AVX-512 gains nothing here over AVX2: the bands are in the cache.
    if (isa != Isa::Generic) return largestBlockSadAvx2(cur, prev, w, first, end);
#else
    (void)isa;
#endif
    return largestBlockSadPlain(cur, prev, w, first, end);
}

uint32_t largestBlockDifferenceRows(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t first,
                                    uint64_t end) {
    return largestBlockSad(isa, cur, prev, w, first, end);
}

double blockDifferenceFromSad(uint64_t blocks, uint32_t largestSad) {
    // Without a whole block there is nothing to measure.
    if (blocks == 0) return -1.0;
    return static_cast<double>(largestSad) / 64.0;
}

double blockDifference(const Image* cur, const Image* prev, IndicatorState& state) {
    const uint64_t blocks = (cur->w / BLOCKSIZE) * (cur->h / BLOCKSIZE);
    if (blocks == 0) return blockDifferenceFromSad(0, 0);
    return blockDifferenceFromSad(blocks,
                                  largestBlockSad(state.isa, cur->data, prev->data, cur->w, 0, cur->h / BLOCKSIZE));
}

}  // namespace lumaqc
