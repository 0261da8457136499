#include <cstring>
#include <vector>

#include "indicators/indicators.hpp"
#include "simd/isa.hpp"
#include "tools/scratch.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// A block's mean absolute difference is its sum of absolute differences (an
// exact integer, however the doubles are added) divided by 64, a multiple of
// 1/64 = 0.015625. So the mean reaches the threshold exactly when the sum is
// at least 1, and it is 0.0 exactly when the sum is 0: the states follow from
// the integer sums alone.
static_assert(1.0 / (BLOCKSIZE * BLOCKSIZE) >= FLICKER_THRESHOLD && FLICKER_THRESHOLD > 0.0,
              "one differing grey level must make a block changing");


// One row of 8 x 8 blocks: its first pixel rows in both pictures, the common
// row stride, and where the per-block sums and accumulators of the row go.
struct FlickerBlockRow {
    const uint8_t* cur;
    const uint8_t* prev;
    uint64_t stride;
    uint64_t blocks;    // blocks in a row of the grid
    uint64_t updated;   // blocks of this row whose state and count take part
    uint8_t* counts;
    uint8_t* states;
    uint32_t* sads;     // scratch: one sum per block
    uint16_t* columns;  // scratch for the plain kernel: one sum per pixel column
};

// A still block turns changing as soon as any of its pixels differs; a
// changing block turns still only when it is identical. Each switch counts,
// and counts wrap modulo 256.
static LUMAQC_ALWAYS_INLINE void updateBlockStates(const uint32_t* sads, uint8_t* counts, uint8_t* states,
                                                   uint64_t blocks) {
    for (uint64_t k = 0; k < blocks; ++k) {
        const uint8_t state = states[k];
        const bool changing = sads[k] != 0;
        const bool switches = changing ? state == 0 : state == 1;
        states[k] = switches ? static_cast<uint8_t>(changing) : state;
        counts[k] = static_cast<uint8_t>(counts[k] + (switches ? 1u : 0u));
    }
}

// Per-block sums of absolute differences, portable: the eight pixel rows are
// summed per column (at most 8 * 255, 16 bits), then eight columns per block.
static LUMAQC_ALWAYS_INLINE void blockRowSadsPlain(const FlickerBlockRow& r) {
    const uint64_t width = r.blocks * BLOCKSIZE;
    uint16_t* columns = r.columns;
    for (uint64_t x = 0; x < width; ++x) columns[x] = 0;
    for (int j = 0; j < BLOCKSIZE; ++j) {
        const uint8_t* c = r.cur + static_cast<uint64_t>(j) * r.stride;
        const uint8_t* p = r.prev + static_cast<uint64_t>(j) * r.stride;
        for (uint64_t x = 0; x < width; ++x) {
            const uint8_t a = c[x], b = p[x];
            columns[x] = static_cast<uint16_t>(columns[x] + static_cast<uint8_t>(a > b ? a - b : b - a));
        }
    }
    for (uint64_t k = 0; k < r.blocks; ++k) {
        const uint16_t* block = columns + k * BLOCKSIZE;
        uint32_t sum = 0;
        for (int l = 0; l < BLOCKSIZE; ++l) sum += block[l];
        r.sads[k] = sum;
    }
}

static void flickerBlockRowGeneric(const FlickerBlockRow& r) {
    blockRowSadsPlain(r);
    updateBlockStates(r.sads, r.counts, r.states, r.updated);
}

#ifdef LUMAQC_X86_VARIANTS
// The byte-wise sum of absolute differences instruction sums each group of 8
// bytes, exactly one block wide: eight rows of loads give the block sums.

// Blocks x / 8 and x / 8 + 1 (16 bytes from column x).
LUMAQC_TARGET_AVX2 static LUMAQC_ALWAYS_INLINE void twoBlockSads(const FlickerBlockRow& r, uint64_t x) {
    __m128i sum = _mm_setzero_si128();
    for (int j = 0; j < BLOCKSIZE; ++j) {
        const uint64_t at = static_cast<uint64_t>(j) * r.stride + x;
        sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r.cur + at)),
                                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(r.prev + at))));
    }
    r.sads[x / BLOCKSIZE] = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
    r.sads[x / BLOCKSIZE + 1] = static_cast<uint32_t>(_mm_extract_epi32(sum, 2));
}

// Block x / 8 alone (8 bytes from column x).
LUMAQC_TARGET_AVX2 static LUMAQC_ALWAYS_INLINE void oneBlockSad(const FlickerBlockRow& r, uint64_t x) {
    __m128i sum = _mm_setzero_si128();
    for (int j = 0; j < BLOCKSIZE; ++j) {
        const uint64_t at = static_cast<uint64_t>(j) * r.stride + x;
        sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r.cur + at)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r.prev + at))));
    }
    r.sads[x / BLOCKSIZE] = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
}

// Blocks from column x to the end of the row, never reading past it.
LUMAQC_TARGET_AVX2 static LUMAQC_ALWAYS_INLINE void remainingBlockSads(const FlickerBlockRow& r, uint64_t x) {
    const uint64_t width = r.blocks * BLOCKSIZE;
    for (; x + 16 <= width; x += 16) twoBlockSads(r, x);
    if (x < width) oneBlockSad(r, x);
}

LUMAQC_TARGET_AVX2 static void flickerBlockRowAvx2(const FlickerBlockRow& r) {
    const uint64_t width = r.blocks * BLOCKSIZE;
    const __m256i lowDwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    uint64_t x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i sum = _mm256_setzero_si256();
        for (int j = 0; j < BLOCKSIZE; ++j) {
            const uint64_t at = static_cast<uint64_t>(j) * r.stride + x;
            sum = _mm256_add_epi64(
                sum, _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.cur + at)),
                                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.prev + at))));
        }
        // Four sums below 2^14, one per 64-bit lane: keep their low halves.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r.sads + x / BLOCKSIZE),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(sum, lowDwords)));
    }
    remainingBlockSads(r, x);
    updateBlockStates(r.sads, r.counts, r.states, r.updated);
}

LUMAQC_TARGET_AVX512 static void flickerBlockRowAvx512(const FlickerBlockRow& r) {
    const uint64_t width = r.blocks * BLOCKSIZE;
    uint64_t x = 0;
    for (; x + 64 <= width; x += 64) {
        __m512i sum = _mm512_setzero_si512();
        for (int j = 0; j < BLOCKSIZE; ++j) {
            const uint64_t at = static_cast<uint64_t>(j) * r.stride + x;
            sum = _mm512_add_epi64(sum,
                                   _mm512_sad_epu8(_mm512_loadu_si512(r.cur + at), _mm512_loadu_si512(r.prev + at)));
        }
        // Eight sums below 2^14, one per 64-bit lane.
        _mm512_mask_cvtepi64_storeu_epi32(r.sads + x / BLOCKSIZE, 0xff, sum);
    }
    remainingBlockSads(r, x);
    updateBlockStates(r.sads, r.counts, r.states, r.updated);
}
#endif

static void flickerBlockRow(Isa isa, const FlickerBlockRow& r) {
#ifdef LUMAQC_X86_VARIANTS
    switch (isa) {
        case Isa::Avx512: return flickerBlockRowAvx512(r);
        case Isa::Avx2: return flickerBlockRowAvx2(r);
        default: return flickerBlockRowGeneric(r);
    }
#else
    (void)isa;
    flickerBlockRowGeneric(r);
#endif
}

// Sum of the `selected` largest of the first len counts. Counts are bytes, so
// a histogram gives the same sum as sorting them largest first.
static uint64_t sumOfLargestCounts(const uint8_t* counts, uint32_t len, uint32_t selected) {
    // Four histograms, so that runs of equal counts do not wait on one another.
    uint32_t histograms[4][256] = {};
    uint32_t i = 0;
    for (; len - i >= 4; i += 4) {
        ++histograms[0][counts[i]];
        ++histograms[1][counts[i + 1]];
        ++histograms[2][counts[i + 2]];
        ++histograms[3][counts[i + 3]];
    }
    for (; i < len; ++i) ++histograms[0][counts[i]];

    uint64_t sum = 0;
    uint32_t remaining = selected;
    for (int value = 255; value >= 0 && remaining > 0; --value) {
        const uint32_t many = histograms[0][value] + histograms[1][value] + histograms[2][value] + histograms[3][value];
        const uint32_t taken = many < remaining ? many : remaining;
        sum += static_cast<uint64_t>(taken) * static_cast<uint64_t>(value);
        remaining -= taken;
    }
    return sum;
}

void reserveFlickering(FlickeringScratch& scratch, uint64_t w, uint64_t h) {
    const uint64_t gw = w >> 3;
    if ((h >> 3) == 0 || gw == 0) return;
    growScratch(scratch.sads, gw);
    growScratch(scratch.columns, gw * BLOCKSIZE);
}


static double flickeringPeriodStep(Image* counts, Image* states, IndicatorState& state);

double flickering(const Image* cur, const Image* prev, Image* counts, Image* states, IndicatorState& state) {
    // Per-block and per-column sums of one block row.
    std::vector<uint32_t>& sads = state.flickering.sads;
    std::vector<uint16_t>& columns = state.flickering.columns;

    const uint32_t gw = static_cast<uint32_t>(counts->w);
    const uint32_t gh = static_cast<uint32_t>(counts->h);
    // Blocks whose state and count take part, in row-major order.
    const uint32_t blocks = gw * gh;
    if (blocks != 0) {
        const uint64_t width = static_cast<uint64_t>(gw) * BLOCKSIZE;
        growScratch(sads, gw);
        growScratch(columns, width);
        const Isa isa = state.isa;
        // Columns and rows beyond the last whole block take no part; both
        // pictures are addressed with the current width.
        const uint64_t stride = cur->w;
        for (uint32_t i = 0; i < gh; ++i) {
            const uint64_t first = static_cast<uint64_t>(i) * gw;
            if (first >= blocks) break;
            const uint64_t rowOffset = static_cast<uint64_t>(i) * BLOCKSIZE * stride;
            const FlickerBlockRow row{cur->data + rowOffset,
                                      prev->data + rowOffset,
                                      stride,
                                      gw,
                                      blocks - first < gw ? blocks - first : gw,
                                      counts->data + first,
                                      states->data + first,
                                      sads.data(),
                                      columns.data()};
            flickerBlockRow(isa, row);
        }
    }

    return flickeringPeriodStep(counts, states, state);
}

double flickeringFromChanges(const uint8_t* changes, Image* counts, Image* states, IndicatorState& state) {
    const uint64_t blocks = counts->w * counts->h;
    uint8_t* const count = counts->data;
    uint8_t* const stateOf = states->data;
    // The rule of updateBlockStates on bytes, in a form the compiler vectorises.
    for (uint64_t k = 0; k < blocks; ++k) {
        const uint8_t s = stateOf[k], changing = changes[k];
        const uint8_t switches = changing != 0 ? s == 0 : s == 1;
        stateOf[k] = switches != 0 ? changing : s;
        count[k] = static_cast<uint8_t>(count[k] + switches);
    }
    return flickeringPeriodStep(counts, states, state);
}

// The end of a call: -1.0 within the period; on its last call the value,
// and every block still with a count of 0 for the next period.
static double flickeringPeriodStep(Image* counts, Image* states, IndicatorState& state) {
    int32_t& frameCount = state.frameCount;
    ++frameCount;
    if (frameCount != framePeriod) return -1.0;

    const uint32_t len = static_cast<uint32_t>(counts->w) * static_cast<uint32_t>(counts->h);
    const uint32_t selected = static_cast<uint32_t>(static_cast<double>(len) * FLICKER_SELECTED_SHARE);
    const uint64_t sum = sumOfLargestCounts(counts->data, len, selected);

    frameCount = 0;
    // Fewer than 34 blocks select none: 0 / 0, not-a-number.
    const double result = static_cast<double>(sum) / static_cast<double>(8u * selected);

    // The next period starts with every block still and every count 0.
    std::memset(counts->data, 0, len);
    std::memset(states->data, 0, len);
    return result;
}

}  // namespace lumaqc
