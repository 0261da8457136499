#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"
#include "tools/scratch.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// How the edge measure is computed without any full-size scratch picture.
//
// GX at (r, c) is pixel(r, c) - pixel(r, c - 1), 0 in row 0 and column 0; GY
// is pixel(r, c) - pixel(r - 1, c); G2 = GX * GX. Everything is derived from
// the 8-bit pixels where it is needed, in two streaming passes: the sum of G2
// over the picture, then the scan of rows 1 ... H - 2.
//
// Local threshold. The deviation of a 16 x 16 block of 8-bit pixels is
// sqrt((Q - S*S/256) / 255) with S, Q the exact integer sums: S*S/256 and the
// difference are exact in double and Q*256 >= S*S, so the deviation is finite
// and lies in [0, 127.75] (half the pixels at 0, half at 255). Pixels outside
// the grid of whole blocks borrow a whole block's deviation, or 0 when the
// picture has none. The local threshold t = deviation / 1024 therefore lies in
// [0, 0.125) for every pixel, and for the integer sgn*GX the test
// sgn*GX > t is the same as sgn*GX >= 1: the block deviations need not be
// computed at all.
//
// Global threshold. T = (S2 / (H*W)) * 16 with S2 the sum of G2 over the whole
// picture. A pixel passes double(G2) > T exactly when |GX| >= k, k being the
// smallest integer with double(k*k) > T (G2 is exact in double, and the test
// only grows with G2). k >= 1, so GX is never 0 at an edge pixel and no edge
// is dropped for want of a direction.
//
// Edge test. Comparisons of squares of integers are comparisons of their
// absolute values, so the whole edge test runs on 8-bit absolute differences,
// many columns at a time; it marks the edge pixels of a row.
//
// Edge widths. The right and left parts of an edge are runs of differences of
// the edge's sign (sgn*GX >= 1) along the row, cut at columns 2 and W - 2. The
// row's marks are kept as bits, 64 columns to a word: edge pixels, rising and
// falling differences (the signs only for columns 2 ... W - 2). The edges are
// found a word at a time, and each part is the count of set bits next to the
// edge in a window of 64 columns of its sign. A run longer than that is
// looked up through a memo of the last run met per sign and direction, so
// that a row with many edges inside one long run is still walked in linear
// time.

namespace {

// Most columns summed in one 32-bit accumulator: 8192 * 255^2 < 2^31.
constexpr uint32_t kSumChunk = 8192;
constexpr uint64_t kOnes = 0x0101010101010101ull;

constexpr uint8_t kRising = 1;
constexpr uint8_t kFalling = 2;

// Sum of (p[x + 1] - p[x])^2 for x = 0 ... n - 1, n <= kSumChunk.
static LUMAQC_ALWAYS_INLINE int32_t squaredStepsBody(const uint8_t* p, uint32_t n) {
    int32_t sum = 0;
    for (uint32_t x = 0; x < n; ++x) {
        const int16_t d = static_cast<int16_t>(static_cast<int16_t>(p[x + 1]) - static_cast<int16_t>(p[x]));
        sum += static_cast<int32_t>(d) * static_cast<int32_t>(d);
    }
    return sum;
}
LUMAQC_VARIANTS(int32_t, squaredStepsVariant, squaredStepsBody, (const uint8_t* p, uint32_t n), (p, n))

#ifdef LUMAQC_X86_VARIANTS
// The squares of 32 absolute steps (bytes), multiply-added in pairs into the
// eight 32-bit lanes of sum: at most 4 * 255^2 per lane.
LUMAQC_TARGET_AVX2 static inline __m256i addSquares256(__m256i sum, __m256i d) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_unpacklo_epi8(d, zero), hi = _mm256_unpackhi_epi8(d, zero);
    return _mm256_add_epi32(sum, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
}

// 32 steps at a time: their absolute values fit a byte (n <= kSumChunk keeps
// the total below 2^31).
LUMAQC_TARGET_AVX2 static int32_t squaredStepsAvx2(const uint8_t* p, uint32_t n) {
    __m256i sum = _mm256_setzero_si256();
    uint32_t x = 0;
    for (; n - x >= 32; x += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x + 1));
        sum = addSquares256(sum, _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a)));
    }
    int32_t lanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), sum);
    int32_t total = 0;
    for (int32_t lane : lanes) total += lane;
    return total + squaredStepsBody(p + x, n - x);
}
#endif

LUMAQC_EXPLICIT_AVX2(int32_t, squaredSteps, squaredStepsAvx2, squaredStepsVariant, (const uint8_t* p, uint32_t n),
                     (p, n))

static LUMAQC_ALWAYS_INLINE uint8_t absoluteDifference(uint8_t a, uint8_t b) {
    return static_cast<uint8_t>(a > b ? a - b : b - a);
}

// For columns c = first ... first + count - 1 of row cur: edge[c] = 1 where
// the pixel is an edge pixel, and sign[c] = kRising / kFalling / 0 after the
// sign of GX. upGx is the row whose differences stand for GX of the row above
// (all zero for row 1); up is the row above itself, for GY. Needs first >= 2
// and first + count <= W - 1. Returns whether any edge was marked.
static LUMAQC_ALWAYS_INLINE uint8_t markRowBody(const uint8_t* cur, const uint8_t* up, const uint8_t* upGx,
                                                const uint8_t* down, uint8_t* edge, uint8_t* sign, uint32_t first,
                                                uint32_t count, uint8_t k) {
    // Column c of each row is element c - first of these.
    const uint8_t* __restrict here = cur + first;
    const uint8_t* __restrict left = here - 1;
    const uint8_t* __restrict left2 = here - 2;
    const uint8_t* __restrict right = here + 1;
    const uint8_t* __restrict above = up + first;
    const uint8_t* __restrict gxAbove = upGx + first;
    const uint8_t* __restrict gxAboveLeft = gxAbove - 1;
    const uint8_t* __restrict below = down + first;
    const uint8_t* __restrict belowLeft = below - 1;
    uint8_t* __restrict edgeOut = edge + first;
    uint8_t* __restrict signOut = sign + first;
    uint8_t any = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t h = here[i];
        const uint8_t l = left[i];
        const uint8_t a = absoluteDifference(h, l);
        const uint8_t before = absoluteDifference(l, left2[i]);
        const uint8_t after = absoluteDifference(right[i], h);
        const uint8_t aboveGx = absoluteDifference(gxAbove[i], gxAboveLeft[i]);
        const uint8_t belowGx = absoluteDifference(below[i], belowLeft[i]);
        const uint8_t vertical = absoluteDifference(h, above[i]);
        const bool horizontalPeak = (before <= a) & (a > after) & (a >= vertical);
        const bool verticalPeak = (aboveGx <= a) & (a > belowGx);
        const uint8_t e = static_cast<uint8_t>((a >= k) & (horizontalPeak | verticalPeak));
        edgeOut[i] = e;
        any |= e;
        signOut[i] = static_cast<uint8_t>((h > l ? kRising : 0) | (h < l ? kFalling : 0));
    }
    return any;
}
LUMAQC_VARIANTS(uint8_t, markRow, markRowBody,
                (const uint8_t* cur, const uint8_t* up, const uint8_t* upGx, const uint8_t* down, uint8_t* edge,
                 uint8_t* sign, uint32_t first, uint32_t count, uint8_t k),
                (cur, up, upGx, down, edge, sign, first, count, k))

// Columns handled per call of the row marks: a multiple of every vector width.
constexpr uint32_t kMarkStep = 64;

// Marks columns 2 ... W - 2 in whole steps; the last step may overlap the one
// before, which only writes the same marks again.
uint8_t markInnerColumns(Isa isa, const uint8_t* cur, const uint8_t* up, const uint8_t* upGx, const uint8_t* down,
                         uint8_t* edge, uint8_t* sign, uint32_t W, uint8_t k) {
    const uint32_t columns = W - 3;
    if (columns < kMarkStep) return markRow(isa, cur, up, upGx, down, edge, sign, 2, columns, k);
    const uint32_t whole = columns / kMarkStep * kMarkStep;
    uint8_t any = markRow(isa, cur, up, upGx, down, edge, sign, 2, whole, k);
    if (whole != columns) any |= markRow(isa, cur, up, upGx, down, edge, sign, W - 1 - kMarkStep, kMarkStep, k);
    return any;
}

// The marks of one row as bits: bit c % 64 of word c / 64 stands for column
// c, in three rows of words: edge pixels, rising and falling differences
// (the signs only for columns 2 ... W - 2, as the widths need them).
struct RowBits {
    uint64_t* edge;
    uint64_t* rising;
    uint64_t* falling;
};

// Eight bytes of 0 or 1 as eight bits, the byte at the lowest address in bit 0.
uint64_t packBytes(uint64_t bytes) { return (bytes * 0x0102040810204080ull) >> 56; }

// The plain way: the byte marks of the row, then packed eight at a time.
// The byte rows are 0 outside columns 2 ... W - 2 up to column 64 * words.
void markBitsPlain(Isa isa, const uint8_t* cur, const uint8_t* up, const uint8_t* upGx, const uint8_t* down,
                   uint8_t* edge, uint8_t* sign, uint32_t W, uint8_t k, uint32_t words, RowBits bits) {
    markInnerColumns(isa, cur, up, upGx, down, edge, sign, W, k);
    for (uint32_t j = 0; j < words; ++j) {
        uint64_t e = 0, rise = 0, fall = 0;
        for (uint32_t b = 0; b < 8; ++b) {
            uint64_t edgeBytes, signBytes;
            std::memcpy(&edgeBytes, edge + 64 * j + 8 * b, 8);
            std::memcpy(&signBytes, sign + 64 * j + 8 * b, 8);
            if constexpr (std::endian::native == std::endian::big) {
                edgeBytes = __builtin_bswap64(edgeBytes);
                signBytes = __builtin_bswap64(signBytes);
            }
            e |= packBytes(edgeBytes) << (8 * b);
            rise |= packBytes(signBytes & kOnes) << (8 * b);
            fall |= packBytes((signBytes >> 1) & kOnes) << (8 * b);
        }
        bits.edge[j] = e;
        bits.rising[j] = rise;
        bits.falling[j] = fall;
    }
}

#ifdef LUMAQC_X86_VARIANTS
// The marks of the 64 columns x ... x + 63 as bits (2 <= x, x + 64 <= W - 1),
// the same tests as markRowBody on whole vectors.
struct ChunkBits {
    uint64_t edge, rising, falling;
};

LUMAQC_TARGET_AVX2 static inline __m256i absoluteDifference256(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

LUMAQC_TARGET_AVX2 static inline uint32_t bitsOf256(__m256i m) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(m));
}

// The marks of the 32 columns x ... x + 31 (the sign bits inverted); with
// steps, also adds the squares of their steps, of the columns whose byte of
// keep is all ones where keep is given. kBelow holds k - 1 (k >= 1).
LUMAQC_TARGET_AVX2 static inline ChunkBits markHalfAvx2(const uint8_t* cur, const uint8_t* up, const uint8_t* upGx,
                                                        const uint8_t* down, uint32_t x, __m256i k, __m256i kBelow,
                                                        __m256i* steps, const uint8_t* keep) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + x));
    const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + x - 1));
    // Nonzero where the row rises, falls.
    const __m256i rise = _mm256_subs_epu8(h, l);
    const __m256i fall = _mm256_subs_epu8(l, h);
    const __m256i a = _mm256_or_si256(rise, fall);
    if (steps != nullptr)
        *steps = addSquares256(
            *steps, keep != nullptr ? _mm256_and_si256(a, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keep)))
                                    : a);
    // The sign bits inverted (set where the row does not rise, fall):
    // markChunkAvx2 inverts the two halves at once.
    const uint64_t rising = bitsOf256(_mm256_cmpeq_epi8(rise, zero));
    const uint64_t falling = bitsOf256(_mm256_cmpeq_epi8(fall, zero));
    // Most columns step by less than the edge step: then none is an edge
    // (a - (k - 1) saturates to 0 exactly where a < k).
    const __m256i strong = _mm256_subs_epu8(a, kBelow);
    if (_mm256_testz_si256(strong, strong)) return {0, rising, falling};
    const __m256i before =
        absoluteDifference256(l, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + x - 2)));
    const __m256i after = absoluteDifference256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + x + 1)), h);
    const __m256i aboveGx = absoluteDifference256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(upGx + x)),
                                                  _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upGx + x - 1)));
    const __m256i belowGx = absoluteDifference256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(down + x)),
                                                  _mm256_loadu_si256(reinterpret_cast<const __m256i*>(down + x - 1)));
    const __m256i vertical = absoluteDifference256(h, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(up + x)));
    // Saturating differences that are 0 exactly where a test holds: u <= a
    // as u - a, u < a as u - (a - 1) (a >= 1 wherever the edge step is met).
    const __m256i aBelow = _mm256_subs_epu8(a, _mm256_set1_epi8(1));
    // before <= a, vertical <= a, after < a; aboveGx <= a, belowGx < a.
    const __m256i horizontalMiss =
        _mm256_or_si256(_mm256_or_si256(_mm256_subs_epu8(before, a), _mm256_subs_epu8(vertical, a)),
                        _mm256_subs_epu8(after, aBelow));
    const __m256i verticalMiss = _mm256_or_si256(_mm256_subs_epu8(aboveGx, a), _mm256_subs_epu8(belowGx, aBelow));
    // A peak either way (one miss is 0) with a >= k (k - a is 0).
    const __m256i miss =
        _mm256_or_si256(_mm256_min_epu8(horizontalMiss, verticalMiss), _mm256_subs_epu8(k, a));
    return {bitsOf256(_mm256_cmpeq_epi8(miss, zero)), rising, falling};
}

LUMAQC_TARGET_AVX2 static inline ChunkBits markChunkAvx2(const uint8_t* cur, const uint8_t* up, const uint8_t* upGx,
                                                         const uint8_t* down, uint32_t x, __m256i k, __m256i kBelow,
                                                         __m256i* steps, const uint8_t* keep) {
    const ChunkBits lo = markHalfAvx2(cur, up, upGx, down, x, k, kBelow, steps, keep);
    const ChunkBits hi =
        markHalfAvx2(cur, up, upGx, down, x + 32, k, kBelow, steps, keep != nullptr ? keep + 32 : nullptr);
    return {lo.edge | hi.edge << 32, ~(lo.rising | hi.rising << 32), ~(lo.falling | hi.falling << 32)};
}

// 64 bytes of 0, 64 of all ones, 64 of 0: the 64 bytes from kKeep + 64 - i
// keep the bytes from i on, those from kKeep + 64 + i the first 64 - i.
constexpr struct KeepBytes {
    uint8_t bytes[192];
    constexpr KeepBytes() : bytes() {
        for (int i = 64; i < 128; ++i) bytes[i] = 0xff;
    }
} kKeep;

// Chunks summed into 32-bit lanes before they are added up in 64 bits: each
// lane gains at most 8 * 255^2 per chunk.
constexpr uint32_t kChunksPerSum = 1024;

// Every word of the row from whole chunks, W >= 67: word 0 from the chunk at
// column 2 (columns 0 and 1 left 0), the words inside the row in place, and
// the last word from the chunk that ends at column W - 2. chunk(x, keep)
// marks the 64 columns from x; each column 2 ... W - 2 is in the chunk whose
// keep bytes hold it exactly once (keep null: every column). settle() is
// called at least every kChunksPerSum chunks and at the end.
template <typename Chunk, typename Settle>
static LUMAQC_ALWAYS_INLINE void markBitsBody(uint32_t W, uint32_t words, RowBits bits, Chunk&& chunk,
                                              Settle&& settle) {
    // Columns 2 ... 63 of this chunk; 64 and 65 are in word 1.
    const ChunkBits first = chunk(2u, kKeep.bytes + 66);
    bits.edge[0] = first.edge << 2;
    bits.rising[0] = first.rising << 2;
    bits.falling[0] = first.falling << 2;
    // Words j with 64 j + 64 <= W - 1 lie inside the row.
    const uint32_t inside = (W - 1) / 64;
    uint32_t j = 1;
    while (j < inside) {
        const uint32_t stop = inside - j > kChunksPerSum ? j + kChunksPerSum : inside;
        for (; j < stop; ++j) {
            const ChunkBits c = chunk(64 * j, static_cast<const uint8_t*>(nullptr));
            bits.edge[j] = c.edge;
            bits.rising[j] = c.rising;
            bits.falling[j] = c.falling;
        }
        settle();
    }
    for (; j < words; ++j) {
        // Columns 64 j ... W - 2 at most: from the chunk at x = W - 65 <= 64 j.
        uint64_t e = 0, rise = 0, fall = 0;
        if (64 * j <= W - 2) {
            const uint32_t x = W - 65;
            const uint32_t shift = 64 * j - x;
            const ChunkBits c = chunk(x, kKeep.bytes + 64 - shift);
            e = c.edge >> shift;
            rise = c.rising >> shift;
            fall = c.falling >> shift;
        }
        bits.edge[j] = e;
        bits.rising[j] = rise;
        bits.falling[j] = fall;
    }
    settle();
}

// With kSteps, returns the sum of the squared steps of columns 2 ... W - 2.
template <bool kSteps>
LUMAQC_TARGET_AVX2 static uint64_t markBitsAvx2(const uint8_t* cur, const uint8_t* up, const uint8_t* upGx,
                                                const uint8_t* down, uint32_t W, uint8_t k, uint32_t words,
                                                RowBits bits) {
    const __m256i kv = _mm256_set1_epi8(static_cast<char>(k));
    const __m256i kBelow = _mm256_set1_epi8(static_cast<char>(k - 1));
    __m256i lanes = _mm256_setzero_si256();
    uint64_t total = 0;
    markBitsBody(
        W, words, bits,
        [&](uint32_t x, const uint8_t* keep) LUMAQC_TARGET_AVX2 {
            return markChunkAvx2(cur, up, upGx, down, x, kv, kBelow, kSteps ? &lanes : nullptr, keep);
        },
        [&]() LUMAQC_TARGET_AVX2 {
            if (!kSteps) return;
            const __m256i wide = _mm256_add_epi64(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(lanes)),
                                                  _mm256_cvtepu32_epi64(_mm256_extracti128_si256(lanes, 1)));
            const __m128i pair = _mm_add_epi64(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1));
            total += static_cast<uint64_t>(_mm_cvtsi128_si64(pair)) + static_cast<uint64_t>(_mm_extract_epi64(pair, 1));
            lanes = _mm256_setzero_si256();
        });
    return total;
}
#endif

// Sum of the squared steps of columns 1 ... w - 1 of the row at p, in chunks.
uint64_t rowSteps(Isa isa, const uint8_t* p, uint64_t w) {
    uint64_t total = 0;
    for (uint64_t x = 0; x + 1 < w; x += kSumChunk) {
        const uint64_t left = w - 1 - x;
        const uint32_t n = static_cast<uint32_t>(left < kSumChunk ? left : kSumChunk);
        total += static_cast<uint64_t>(squaredSteps(isa, p + x, n));
    }
    return total;
}

// The bits of columns 2 ... W - 2 of one row (words 0 ... words - 1), whole
// vectors at a time where the processor has them. With steps, also adds the
// squared steps of the row's columns 1 ... W - 1 to *steps.
void markBits(Isa isa, const uint8_t* cur, const uint8_t* up, const uint8_t* upGx, const uint8_t* down, uint8_t* edge,
              uint8_t* sign, uint32_t W, uint8_t k, uint32_t words, RowBits bits, uint64_t* steps) {
#ifdef LUMAQC_X86_VARIANTS
    // The AVX2 marks serve AVX-512 processors too, as the other hand-written loops do.
    if (W >= 67 && (isa == Isa::Avx2 || isa == Isa::Avx512)) {
        if (steps == nullptr) {
            markBitsAvx2<false>(cur, up, upGx, down, W, k, words, bits);
            return;
        }
        // The marks hold the steps of columns 2 ... W - 2.
        const int32_t first = static_cast<int32_t>(cur[1]) - cur[0];
        const int32_t last = static_cast<int32_t>(cur[W - 1]) - cur[W - 2];
        *steps += markBitsAvx2<true>(cur, up, upGx, down, W, k, words, bits) +
                  static_cast<uint64_t>(first * first + last * last);
        return;
    }
#endif
    markBitsPlain(isa, cur, up, upGx, down, edge, sign, W, k, words, bits);
    if (steps != nullptr) *steps += rowSteps(isa, cur, W);
}

// Sum of G2 over the whole picture (row 0 and column 0 hold 0). The rows from
// row 1, column 1 on are taken as one stream of differences, in chunks;
// the differences across row ends (column 0 of rows 2 ... H - 1) are taken
// out again.
uint64_t squaredStepSum(Isa isa, const uint8_t* pixels, uint64_t W, uint64_t H) {
    uint64_t total = 0;
    const uint64_t end = W * H;
    for (uint64_t i = W + 1; i < end; i += kSumChunk) {
        const uint64_t left = end - i;
        const uint32_t n = static_cast<uint32_t>(left < kSumChunk ? left : kSumChunk);
        total += static_cast<uint64_t>(squaredSteps(isa, pixels + i - 1, n));
    }
    for (uint64_t r = 2; r < H; ++r) {
        const int32_t d = static_cast<int32_t>(pixels[r * W]) - pixels[r * W - 1];
        total -= static_cast<uint64_t>(d * d);
    }
    return total;
}

// The 64 bits of columns q - 64 ... q - 1 of a row of words that has one
// zero word before column 0 (its word 0) and one after the row: q is the
// column plus 64, from 1 up to 64 * (words + 1).
uint64_t bitWindow(const uint64_t* bits, uint64_t q) {
    const uint64_t word = q >> 6;
    const uint32_t offset = static_cast<uint32_t>(q & 63);
    // The shift of the upper word in two steps, so that offset 0 shifts it out.
    return (bits[word] >> offset) | ((bits[word + 1] << 1) << (63 - offset));
}

// The longest stretch of columns around a column whose differences all have
// one sign, inside columns 2 ... W - 2. Empty (lo > hi) until set.
struct Run {
    uint32_t lo = 1;
    uint32_t hi = 0;
};

// The run of set bits that holds column c (whose bit is set), through the
// memo. The bits are 0 outside columns 2 ... W - 2, which bounds the run.
// bits is the row with its zero word in front (column 0 is bit 64).
const Run& runAt(const uint64_t* bits, Run& memo, uint32_t c) {
    if (memo.lo <= c && c <= memo.hi) return memo;
    // Down: windows ending at column q, while all of them are set.
    uint64_t q = static_cast<uint64_t>(c) + 64;
    for (;;) {
        const int n = std::countl_one(bitWindow(bits, q - 63));
        if (n < 64) {
            memo.lo = static_cast<uint32_t>(q - 64 - static_cast<uint64_t>(n) + 1);
            break;
        }
        q -= 64;
    }
    // Up: windows starting at column q.
    q = static_cast<uint64_t>(c) + 64;
    for (;;) {
        const int n = std::countr_one(bitWindow(bits, q));
        if (n < 64) {
            memo.hi = static_cast<uint32_t>(q - 64 + static_cast<uint64_t>(n) - 1);
            break;
        }
        q += 64;
    }
    return memo;
}

// Left part plus right part of the edge at column c of a row whose
// differences run the way of bits (that row of sign bits, with its zero word
// in front), when a part fills its whole window of 64 columns (right or left
// is then 64): the runs are looked up through the memos.
uint32_t longEdgeWidth(const uint64_t* bits, uint32_t c, uint32_t right, uint32_t left, Run& leftRun, Run& rightRun) {
    if (right == 64) right = runAt(bits, rightRun, c + 1).hi - c;
    if (left == 64) left = c - runAt(bits, leftRun, c).lo + 1;
    return left + right;
}

// The edges of one row from its bits, counted and their widths added up per
// step |GX|, column by column. rising and falling are the sign bits of the
// row with their zero word in front and one after it.
static LUMAQC_ALWAYS_INLINE void walkEdgesBody(const uint8_t* cur, const uint64_t* edgeBits, uint32_t words,
                                               const uint64_t* rising, const uint64_t* falling, uint32_t* edges,
                                               uint32_t* widths) {
    Run leftRuns[2];
    Run rightRuns[2];
    for (uint32_t j = 0; j < words; ++j) {
        uint64_t word = edgeBits[j];
        if (word == 0) continue;
        // Word j of the row: its columns from pixels on, its sign words at
        // risingAt and fallingAt.
        const uint8_t* pixels = cur + 64 * static_cast<uint64_t>(j);
        const uint64_t* risingAt = rising + j + 1;
        const uint64_t* fallingAt = falling + j + 1;
        for (; word != 0; word &= word - 1) {
            const uint64_t b = static_cast<uint64_t>(std::countr_zero(word));
            const uint8_t* p = pixels + b;
            // The runs follow the falling differences when this step or the
            // next falls (the step is never 0 at an edge).
            const int32_t a = static_cast<int32_t>(p[0]) - p[-1];
            const int32_t next = static_cast<int32_t>(p[1]) - p[0];
            const bool falls = (a | next) < 0;
            const uint64_t* at = falls ? fallingAt : risingAt;
            // Right part: the run of the edge's sign from column c + 1 up, in
            // the window of columns c + 1 ... c + 64 (the bits end at column
            // W - 2); left part: the run from column c down, in the window
            // of columns c - 63 ... c (the bits start at column 2).
            const uint64_t up = ((at[0] >> b) >> 1) | (at[1] << (63 - b));
            const uint64_t down = (at[0] << (63 - b)) | ((at[-1] >> b) >> 1);
            uint32_t width = static_cast<uint32_t>(std::countr_one(up) + std::countl_one(down));
            if (up == ~0ull || down == ~0ull)
                width = longEdgeWidth(falls ? falling : rising, static_cast<uint32_t>(p - cur),
                                      static_cast<uint32_t>(std::countr_one(up)),
                                      static_cast<uint32_t>(std::countl_one(down)), leftRuns[falls],
                                      rightRuns[falls]);
            const uint64_t step = static_cast<uint32_t>(a < 0 ? -a : a);
            ++edges[step];
            widths[step] += width;
        }
    }
}

static void walkEdges(const uint8_t* cur, const uint64_t* edgeBits, uint32_t words, const uint64_t* rising,
                      const uint64_t* falling, uint32_t* edges, uint32_t* widths) {
    walkEdgesBody(cur, edgeBits, words, rising, falling, edges, widths);
}

#ifdef LUMAQC_X86_VARIANTS
// The same walk with the variable shifts and bit counts of BMI.
LUMAQC_TARGET_AVX2 static void walkEdgesBmi(const uint8_t* cur, const uint64_t* edgeBits, uint32_t words,
                                            const uint64_t* rising, const uint64_t* falling, uint32_t* edges,
                                            uint32_t* widths) {
    walkEdgesBody(cur, edgeBits, words, rising, falling, edges, widths);
}
#endif

// Smallest |GX| whose square exceeds the threshold (S2 / (H*W)) * 16; 256
// when there is none.
uint32_t edgeStepFor(uint64_t sum, uint32_t W, uint32_t H) {
    const double threshold =
        (static_cast<double>(static_cast<int64_t>(sum)) /
         (static_cast<double>(static_cast<uint64_t>(H)) * static_cast<double>(static_cast<uint64_t>(W)))) *
        16.0;
    uint32_t k = 1;
    while (k < 256 && !(static_cast<double>(k * k) > threshold)) ++k;
    return k;
}

double edgeMean(uint32_t edges, uint32_t widths) {
    const int32_t L = static_cast<int32_t>(widths);
    const int32_t E = static_cast<int32_t>(edges);
    return L != 0 ? static_cast<double>(L) / static_cast<double>(E) : 0.0;
}

// Words of bits of a row W wide, and the scratch of one row of bits: the
// edge, rising and falling words, each with a zero word before and after.
uint32_t wordsFor(uint32_t W) { return (W + 63) / 64; }
uint64_t bitScratchFor(uint32_t W) { return 3 * (static_cast<uint64_t>(wordsFor(W)) + 2); }
// Byte rows of the plain marks: up to column 64 * words.
uint64_t markBytesFor(uint32_t W) { return 64 * static_cast<uint64_t>(wordsFor(W)); }

// The edges of rows first ... end - 1 (1 <= first, end <= H - 1) whose step
// is at least k, counted and measured per step into edges and widths. With
// steps, also adds the squared steps of those rows (columns 1 ... W - 1) to
// *steps.
void scanRows(Isa isa, const uint8_t* pixels, uint32_t W, uint32_t first, uint32_t end, uint8_t k,
              BlurScratch& scratch, uint64_t* steps, uint32_t* edges, uint32_t* widths) {
    // Row scratch, kept from call to call: the byte marks of the plain way
    // (edge marks by column, the row's signs by column with a window of zeros
    // on either side), the row's bits, and a zero row standing for the
    // differences above row 1.
    std::vector<uint8_t>& zeroRow = scratch.zeroRow;
    const uint32_t words = wordsFor(W);
    uint8_t* const edge = growScratch(scratch.edge, markBytesFor(W));
    uint8_t* const sign = growScratch(scratch.sign, markBytesFor(W));
    uint64_t* const bitRows = growScratch(scratch.bits, bitScratchFor(W));
    growScratch(zeroRow, W);
    // Columns 0 and 1 and from W - 1 on are never written by the byte marks.
    edge[0] = edge[1] = sign[0] = sign[1] = 0;
    std::memset(edge + (W - 1), 0, markBytesFor(W) - (W - 1));
    std::memset(sign + (W - 1), 0, markBytesFor(W) - (W - 1));
    // Each row of words keeps a zero word before and after it.
    const uint64_t stride = static_cast<uint64_t>(words) + 2;
    uint64_t* const edgeBits = bitRows + 1;
    uint64_t* const rising = bitRows + stride + 1;
    uint64_t* const falling = bitRows + 2 * stride + 1;
    for (uint64_t* row : {edgeBits, rising, falling}) row[-1] = row[words] = 0;
    const RowBits bits{edgeBits, rising, falling};

    for (uint32_t r = first; r < end; ++r) {
        const uint8_t* cur = pixels + static_cast<uint64_t>(r) * W;
        const uint8_t* up = cur - W;
        const uint8_t* down = cur + W;
        const uint8_t* upGx = r == 1 ? zeroRow.data() : up;
        markBits(isa, cur, up, upGx, down, edge, sign, W, k, words, bits, steps);

        // Column 1: the difference before it (column 0) is 0.
        {
            const uint8_t a = absoluteDifference(cur[1], cur[0]);
            const bool horizontalPeak =
                a > absoluteDifference(cur[2], cur[1]) && a >= absoluteDifference(cur[1], up[1]);
            const bool verticalPeak =
                absoluteDifference(upGx[1], upGx[0]) <= a && a > absoluteDifference(down[1], down[0]);
            edgeBits[0] |= static_cast<uint64_t>(a >= k && (horizontalPeak || verticalPeak)) << 1;
        }

#ifdef LUMAQC_X86_VARIANTS
        if (isa != Isa::Generic) {
            walkEdgesBmi(cur, edgeBits, words, rising - 1, falling - 1, edges, widths);
            continue;
        }
#endif
        walkEdges(cur, edgeBits, words, rising - 1, falling - 1, edges, widths);
    }
}

}  // namespace

void reserveBlur(
BlurScratch& scratch, uint64_t w, uint64_t h) {
    const uint32_t W = static_cast<uint32_t>(w);
    if (static_cast<uint32_t>(h) < 3 || W < 3) return;
    growScratch(scratch.edge, markBytesFor(W));
    growScratch(scratch.sign, markBytesFor(W));
    growScratch(scratch.bits, bitScratchFor(W));
    growScratch(scratch.zeroRow, W);
}


double blur(const Image* img, IndicatorState& state) {
    const uint32_t W = static_cast<uint32_t>(img->w);
    const uint32_t H = static_cast<uint32_t>(img->h);
    // One or two rows, or fewer than three columns: nothing is scanned.
    if (H < 3 || W < 3) return 0.0;

    return blurFinish(img, state, squaredStepSum(state.isa, img->data, W, H));
}

uint64_t blurStepRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end) {
    uint64_t total = 0;
    for (uint64_t r = first; r < end; ++r) total += rowSteps(isa, data + r * w, w);
    return total;
}

double blurFinish(const Image* img, IndicatorState& state, uint64_t sum) {
    const uint32_t W = static_cast<uint32_t>(img->w);
    const uint32_t H = static_cast<uint32_t>(img->h);
    if (H < 3 || W < 3) return 0.0;
    const Isa isa = state.isa;
    const uint8_t* pixels = img->data;

    const uint32_t k = edgeStepFor(sum, W, H);
    if (k == 256) return 0.0;

    // Edge and width counters wrap like the 32-bit signed integers they are.
    uint32_t edges[256] = {};
    uint32_t widths[256] = {};
    scanRows(isa, pixels, W, 1, H - 1, static_cast<uint8_t>(k), state.blur, nullptr, edges, widths);
    uint32_t edgeCount = 0;
    uint32_t widthSum = 0;
    for (uint32_t a = k; a < 256; ++a) {
        edgeCount += edges[a];
        widthSum += widths[a];
    }
    return edgeMean(edgeCount, widthSum);
}

uint64_t blurBandRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t h, uint64_t first, uint64_t end,
                      IndicatorState& state) {
    BlurBands& bands = state.blurBands;
    const uint64_t stop = end < h - 1 ? end : h - 1;
    if (!bands.active || w < 3 || h < 3 || first >= stop) return blurStepRows(isa, data, w, first, end);
    // The steps of the scanned rows come with their marks; the last row is not scanned.
    uint64_t steps = 0;
    scanRows(isa, data, static_cast<uint32_t>(w), static_cast<uint32_t>(first), static_cast<uint32_t>(stop),
             static_cast<uint8_t>(bands.low), state.blur, &steps, bands.edges, bands.widths);
    return steps + blurStepRows(isa, data, w, stop, end);
}

void blurBandsStart(uint64_t w, uint64_t h, IndicatorState& state) {
    BlurBands& bands = state.blurBands;
    bands.active = w >= 3 && h >= 3 && bands.lastStep != 0;
    if (!bands.active) return;
    // Below the last picture's smallest edge step by one more than its
    // largest recent fall, and by at most an eighth of it: the step rarely
    // falls further, and the edges between low and the step are measured in
    // vain (the clips of bench/accuracy: fewer edges and marks spent in vain
    // than a fixed eighth, for a few more second scans).
    const uint32_t last = bands.lastStep;
    uint32_t largestFall = 0;
    for (uint8_t fall : bands.falls) largestFall = fall > largestFall ? fall : largestFall;
    const uint32_t margin = largestFall + 1 < last / 8 + 1 ? largestFall + 1 : last / 8 + 1;
    bands.low = last > margin ? last - margin : 1;
    for (uint32_t a = 0; a < 256; ++a) bands.edges[a] = bands.widths[a] = 0;
}

double blurBandsFinish(const Image* img, IndicatorState& state, uint64_t sum) {
    const uint32_t W = static_cast<uint32_t>(img->w);
    const uint32_t H = static_cast<uint32_t>(img->h);
    if (H < 3 || W < 3) return 0.0;
    BlurBands& bands = state.blurBands;
    const uint32_t k = edgeStepFor(sum, W, H);
    if (k == 256) return 0.0;
    if (bands.lastStep != 0) {
        bands.falls[bands.nextFall] = static_cast<uint8_t>(bands.lastStep > k ? bands.lastStep - k : 0);
        bands.nextFall = (bands.nextFall + 1) % BLUR_FALLS_KEPT;
    }
    bands.lastStep = k;
    // Every edge of step k or more was measured in the bands.
    if (bands.active && k >= bands.low) {
        uint32_t edges = 0;
        uint32_t widths = 0;
        for (uint32_t a = k; a < 256; ++a) {
            edges += bands.edges[a];
            widths += bands.widths[a];
        }
        return edgeMean(edges, widths);
    }
    return blurFinish(img, state, sum);
}

double blurToMOS(double blurValue) {
    const double x = -1.5 * blurValue + 2.87;
    const double ex = std::exp(x);
    const double score = 5.0 * std::pow(ex / (ex + 1.0), 0.14);
    // fmax also turns a not-a-number score into 0.
    return std::fmax(0.0, score);
}

}  // namespace lumaqc
