// Block loss: long straight runs of strong edges along the 16-pixel block
// grid, horizontal and vertical ones counted per 256 x 256 region; the score
// is the mean over the regions of the product of the two counts.
//
// The edge strength of a 2 x 2 window is its squared Roberts magnitude
// (a - d)^2 + (b - c)^2, an exact integer of at most 130050. Three passes:
//   1. bands of rows: the sum of the magnitudes of all windows (it sets the
//      threshold), and, for the rows of the region grid, the magnitudes of the
//      windows across the vertical boundaries (columns 16c - 1 and 16c), kept
//      in a small table of (W / 16) columns;
//   2. the horizontal boundaries (rows 16r - 1 and 16r) inside the region
//      grid: flags "above the threshold", then the runs of 12 in each region;
//   3. the vertical boundaries: per-column run lengths down each region row.
// Windows of row 0 and column 0 have magnitude 0 and no run ever starts
// outside the grid of whole regions (those windows still count in the sum).
#include <bit>
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

namespace {

// Boundaries examined per region side.
constexpr uint32_t kBoundariesPerRegion = BLOCKLOSS_REGION / BLOCKLOSS_GRID;
// Windows summed with 32-bit lanes before the sum moves to 64 bits: each lane
// holds at most kSumChunk * 255^2 < 2^31.
constexpr uint32_t kSumChunk = 32768;

// Sum of (p[i-w-1] - p[i])^2 + (p[i-w] - p[i-1])^2 for i in [first, end), with
// first > w: the windows whose bottom-right pixel is p[i], read as one flat
// run across rows; two square sums of 16-bit differences, each multiply-added
// into 32-bit lanes.
LUMAQC_ALWAYS_INLINE uint64_t flatWindowEnergy(const uint8_t* p, uint64_t w, uint64_t first, uint64_t end) {
    uint64_t total = 0;
    while (first < end) {
        const uint64_t stop = end - first > kSumChunk ? first + kSumChunk : end;
        int32_t sumX = 0;
        int32_t sumY = 0;
        for (uint64_t i = first; i < stop; ++i) {
            const int16_t dx = static_cast<int16_t>(p[i - w - 1] - p[i]);
            const int16_t dy = static_cast<int16_t>(p[i - w] - p[i - 1]);
            sumX += dx * dx;
            sumY += dy * dy;
        }
        total += static_cast<uint64_t>(sumX) + static_cast<uint64_t>(sumY);
        first = stop;
    }
    return total;
}

// The magnitude of the window whose bottom-right pixel is p[i].
LUMAQC_ALWAYS_INLINE uint64_t windowAt(const uint8_t* p, uint64_t w, uint64_t i) {
    const int32_t dx = p[i - w - 1] - p[i];
    const int32_t dy = p[i - w] - p[i - 1];
    return static_cast<uint64_t>(dx * dx + dy * dy);
}

#ifdef LUMAQC_X86_VARIANTS
// The same sum 32 windows at a time: the differences' absolute values fit a
// byte, and their squares are multiply-added in pairs into 32-bit lanes, each
// of which takes 8 squares (at most 520200) per step and so 2048 steps
// before it is carried on in 64 bits.
LUMAQC_TARGET_AVX2 LUMAQC_ALWAYS_INLINE uint64_t flatWindowEnergyAvx2(const uint8_t* p, uint64_t w, uint64_t first,
                                                                      uint64_t end) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i wide = zero;
    uint64_t i = first;
    while (end - i >= 32) {
        const uint64_t steps = (end - i) / 32 < 2048 ? (end - i) / 32 : 2048;
        const uint64_t stop = i + 32 * steps;
        __m256i narrow = zero;
        for (; i < stop; i += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i - w - 1));
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i - w));
            const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i - 1));
            const __m256i dx = _mm256_or_si256(_mm256_subs_epu8(a, d), _mm256_subs_epu8(d, a));
            const __m256i dy = _mm256_or_si256(_mm256_subs_epu8(b, c), _mm256_subs_epu8(c, b));
            const __m256i xLo = _mm256_unpacklo_epi8(dx, zero), xHi = _mm256_unpackhi_epi8(dx, zero);
            const __m256i yLo = _mm256_unpacklo_epi8(dy, zero), yHi = _mm256_unpackhi_epi8(dy, zero);
            narrow = _mm256_add_epi32(narrow, _mm256_add_epi32(_mm256_madd_epi16(xLo, xLo), _mm256_madd_epi16(xHi, xHi)));
            narrow = _mm256_add_epi32(narrow, _mm256_add_epi32(_mm256_madd_epi16(yLo, yLo), _mm256_madd_epi16(yHi, yHi)));
        }
        wide = _mm256_add_epi64(wide, _mm256_unpacklo_epi32(narrow, zero));
        wide = _mm256_add_epi64(wide, _mm256_unpackhi_epi32(narrow, zero));
    }
    uint64_t lanes[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), wide);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3] + flatWindowEnergy(p, w, i, end);
}
#endif

// The two pixels either side of each vertical boundary of one row, packed as
// left | right << 8; boundary 0 (the picture's own left edge) is left out.
LUMAQC_ALWAYS_INLINE void boundaryPairs(const uint8_t* row, uint32_t boundaries, uint16_t* pairs) {
    if constexpr (std::endian::native == std::endian::little) {
        // One 16-bit load per pair (a vector form would read all 16 bytes
        // between two boundaries to keep two).
        for (uint32_t c = 1; c < boundaries; ++c) std::memcpy(pairs + c, row + c * BLOCKLOSS_GRID - 1, 2);
    } else {
        for (uint32_t c = 1; c < boundaries; ++c) {
            const uint64_t x = static_cast<uint64_t>(c) * BLOCKLOSS_GRID;
            pairs[c] = static_cast<uint16_t>(row[x - 1] | (row[x] << 8));
        }
    }
}

// Magnitudes of the windows across the vertical boundaries, from the pairs of
// the row above and of the row itself; boundary 0 has magnitude 0.
LUMAQC_ALWAYS_INLINE void boundaryMagnitudes(const uint16_t* above, const uint16_t* row, uint32_t boundaries,
                                             int32_t* mags) {
    mags[0] = 0;
    for (uint32_t c = 1; c < boundaries; ++c) {
        const int32_t dx = (above[c] & 0xff) - (row[c] >> 8);
        const int32_t dy = (above[c] >> 8) - (row[c] & 0xff);
        mags[c] = dx * dx + dy * dy;
    }
}

// Pass 1, rows [yBegin, yEnd) with 1 <= yBegin. Returns the exact sum of the
// magnitudes of the windows whose bottom row lies there and fills vMags for
// those rows below gridRows (`boundaries` magnitudes per row; row 0 is all
// zero and set by the caller). The rows go by in bands of about kSumChunk
// pixels, each summed as one flat run; the run's windows at column 0
// straddle two rows, so each is taken off again, and the band's vertical
// boundaries are read while the band is still in the cache.
template <typename Energy>
LUMAQC_ALWAYS_INLINE uint64_t edgeSumWith(const uint8_t* data, uint32_t width, uint32_t yBegin, uint32_t yEnd,
                                          uint32_t gridRows, uint32_t boundaries, uint16_t* pairsA, uint16_t* pairsB,
                                          int32_t* vMags, Energy&& flatWindowEnergy) {
    const uint64_t w = width;
    const uint32_t bandRows = width >= kSumChunk ? 1 : kSumChunk / width;
    uint64_t sum = 0;
    uint16_t* abovePairs = pairsA;
    uint16_t* rowPairs = pairsB;
    if (yBegin < gridRows) boundaryPairs(data + (yBegin - 1) * w, boundaries, abovePairs);
    for (uint32_t y0 = yBegin; y0 < yEnd; y0 += bandRows) {
        const uint32_t y1 = yEnd - y0 > bandRows ? y0 + bandRows : yEnd;
        sum += flatWindowEnergy(data, w, y0 * w + 1, y1 * w);
        for (uint32_t y = y0 + 1; y < y1; ++y) sum -= windowAt(data, w, y * w);
        for (uint32_t y = y0; y < y1 && y < gridRows; ++y) {
            boundaryPairs(data + y * w, boundaries, rowPairs);
            boundaryMagnitudes(abovePairs, rowPairs, boundaries, vMags + static_cast<uint64_t>(y) * boundaries);
            uint16_t* t = abovePairs;
            abovePairs = rowPairs;
            rowPairs = t;
        }
    }
    return sum;
}
LUMAQC_ALWAYS_INLINE uint64_t edgeSumBody(const uint8_t* data, uint32_t width, uint32_t yBegin, uint32_t yEnd,
                                          uint32_t gridRows, uint32_t boundaries, uint16_t* pairsA, uint16_t* pairsB,
                                          int32_t* vMags) {
    return edgeSumWith(data, width, yBegin, yEnd, gridRows, boundaries, pairsA, pairsB, vMags,
                       [](const uint8_t* p, uint64_t w, uint64_t first, uint64_t end) {
                           return flatWindowEnergy(p, w, first, end);
                       });
}
LUMAQC_VARIANTS(uint64_t, edgeSumVariant, edgeSumBody,
                (const uint8_t* data, uint32_t width, uint32_t yBegin, uint32_t yEnd, uint32_t gridRows,
                 uint32_t boundaries, uint16_t* pairsA, uint16_t* pairsB, int32_t* vMags),
                (data, width, yBegin, yEnd, gridRows, boundaries, pairsA, pairsB, vMags))

#ifdef LUMAQC_X86_VARIANTS
LUMAQC_TARGET_AVX2 uint64_t edgeSumAvx2Windows(const uint8_t* data, uint32_t width, uint32_t yBegin, uint32_t yEnd,
                                               uint32_t gridRows, uint32_t boundaries, uint16_t* pairsA,
                                               uint16_t* pairsB, int32_t* vMags) {
    return edgeSumWith(data, width, yBegin, yEnd, gridRows, boundaries, pairsA, pairsB, vMags,
                       [](const uint8_t* p, uint64_t w, uint64_t first, uint64_t end)
                           LUMAQC_TARGET_AVX2 { return flatWindowEnergyAvx2(p, w, first, end); });
}
#endif

LUMAQC_EXPLICIT_AVX2(uint64_t, edgeSum, edgeSumAvx2Windows, edgeSumVariant,
                     (const uint8_t* data, uint32_t width, uint32_t yBegin, uint32_t yEnd, uint32_t gridRows,
                      uint32_t boundaries, uint16_t* pairsA, uint16_t* pairsB, int32_t* vMags),
                     (data, width, yBegin, yEnd, gridRows, boundaries, pairsA, pairsB, vMags))

// Runs of at least BLOCKLOSS_MIN_RUN flags in one region's row of 256: a run
// is counted at its 12th window, i.e. at each position p whose 12 flags
// p-11..p are set while flag p-12 is not (or p-12 lies before the region).
LUMAQC_ALWAYS_INLINE uint32_t runsInSegment(const uint8_t* f) {
    constexpr uint32_t n = BLOCKLOSS_REGION;
    constexpr uint32_t k = BLOCKLOSS_MIN_RUN;
    uint8_t first = 1;
    for (uint32_t i = 0; i < k; ++i) first &= f[i];
    uint32_t count = first;
    for (uint32_t p = k; p < n; ++p) {
        uint8_t all = 1;
        for (uint32_t i = 0; i < k; ++i) all &= f[p - i];
        count += all & (f[p - k] ^ 1);
    }
    return count;
}

// Pass 2: the horizontal boundaries of the region grid, 16 per region row.
// Boundary r (r >= 1) is the windows between picture rows 16r - 1 and 16r;
// boundary 0 is all zero. hRuns gets one count per region, row-major.
LUMAQC_ALWAYS_INLINE void horizontalRunsBody(const uint8_t* data, uint64_t stride, uint32_t regionsX,
                                             uint32_t regionsY, int32_t threshold, uint8_t* flags,
                                             uint32_t* hRuns) {
    const uint32_t gridW = regionsX * BLOCKLOSS_REGION;
    const uint32_t boundaries = regionsY * kBoundariesPerRegion;
    for (uint32_t r = 0; r < boundaries; ++r) {
        if (r == 0) {
            const uint8_t zeroAbove = 0 > threshold ? 1 : 0;
            for (uint32_t x = 0; x < gridW; ++x) flags[x] = zeroAbove;
        } else {
            const uint8_t* row = data + static_cast<uint64_t>(r) * BLOCKLOSS_GRID * stride;
            const uint8_t* above = row - stride;
            flags[0] = 0 > threshold ? 1 : 0;
            for (uint32_t x = 1; x < gridW; ++x) {
                const int32_t dx = above[x - 1] - row[x];
                const int32_t dy = above[x] - row[x - 1];
                flags[x] = dx * dx + dy * dy > threshold ? 1 : 0;
            }
        }
        uint32_t* counts = hRuns + static_cast<uint64_t>(r / kBoundariesPerRegion) * regionsX;
        for (uint32_t bx = 0; bx < regionsX; ++bx)
            counts[bx] += runsInSegment(flags + static_cast<uint64_t>(bx) * BLOCKLOSS_REGION);
    }
}
LUMAQC_VARIANTS(void, horizontalRunsVariant, horizontalRunsBody,
                (const uint8_t* data, uint64_t stride, uint32_t regionsX, uint32_t regionsY, int32_t threshold,
                 uint8_t* flags, uint32_t* hRuns),
                (data, stride, regionsX, regionsY, threshold, flags, hRuns))

// The 256 flags of one region's row as bits (bit i of word k is position
// 64 k + i) shifted up by s < 64 positions, zeros coming in at position 0.
struct RegionBits {
    uint64_t w[4];
};
inline RegionBits shiftedUp(const RegionBits& b, int s) {
    return {{b.w[0] << s, (b.w[1] << s) | (b.w[0] >> (64 - s)), (b.w[2] << s) | (b.w[1] >> (64 - s)),
             (b.w[3] << s) | (b.w[2] >> (64 - s))}};
}
inline RegionBits bothOf(const RegionBits& a, const RegionBits& b) {
    return {{a.w[0] & b.w[0], a.w[1] & b.w[1], a.w[2] & b.w[2], a.w[3] & b.w[3]}};
}

// runsInSegment on bits: the positions ending 12 set flags (pairs, fours,
// eights, then an eight and the four before it) and, of those, the ones
// whose position before does not: one per run of at least 12.
inline uint32_t runsInBits(const RegionBits& f) {
    static_assert(BLOCKLOSS_MIN_RUN == 12 && BLOCKLOSS_REGION == 256, "runs of 12 in rows of 256 positions");
    const RegionBits two = bothOf(f, shiftedUp(f, 1));
    const RegionBits four = bothOf(two, shiftedUp(two, 2));
    const RegionBits eight = bothOf(four, shiftedUp(four, 4));
    const RegionBits twelve = bothOf(eight, shiftedUp(four, 8));
    const RegionBits before = shiftedUp(twelve, 1);
    uint32_t count = 0;
    for (int k = 0; k < 4; ++k) count += static_cast<uint32_t>(std::popcount(twelve.w[k] & ~before.w[k]));
    return count;
}

#ifdef LUMAQC_X86_VARIANTS
// The flags of the windows whose bottom-right pixels are row[x ... x + 31]
// as bits: the two differences of a window side by side in a 32-bit lane,
// multiply-added into its magnitude, compared and packed back in column order
// (the packs undo the unpacks lane by lane).
LUMAQC_TARGET_AVX2 static inline __m256i bytesAt(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

LUMAQC_TARGET_AVX2 static inline __m256i magnitudeAbove(__m256i pairs, __m256i threshold) {
    return _mm256_cmpgt_epi32(_mm256_madd_epi16(pairs, pairs), threshold);
}

LUMAQC_TARGET_AVX2 static inline uint32_t windowFlagsAvx2(const uint8_t* row, const uint8_t* above, uint32_t x,
                                                         __m256i threshold) {
    const __m256i a = bytesAt(above + x - 1), d = bytesAt(row + x), b = bytesAt(above + x), c = bytesAt(row + x - 1);
    const __m256i dx = _mm256_or_si256(_mm256_subs_epu8(a, d), _mm256_subs_epu8(d, a));
    const __m256i dy = _mm256_or_si256(_mm256_subs_epu8(b, c), _mm256_subs_epu8(c, b));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_unpacklo_epi8(dx, dy), hi = _mm256_unpackhi_epi8(dx, dy);
    const __m256i m0 = magnitudeAbove(_mm256_unpacklo_epi8(lo, zero), threshold);
    const __m256i m1 = magnitudeAbove(_mm256_unpackhi_epi8(lo, zero), threshold);
    const __m256i m2 = magnitudeAbove(_mm256_unpacklo_epi8(hi, zero), threshold);
    const __m256i m3 = magnitudeAbove(_mm256_unpackhi_epi8(hi, zero), threshold);
    const __m256i packed = _mm256_packs_epi16(_mm256_packs_epi32(m0, m1), _mm256_packs_epi32(m2, m3));
    return static_cast<uint32_t>(_mm256_movemask_epi8(packed));
}

LUMAQC_TARGET_AVX2 static void horizontalRunsAvx2(const uint8_t* data, uint64_t stride, uint32_t regionsX,
                                                  uint32_t regionsY, int32_t threshold, uint8_t*, uint32_t* hRuns) {
    const uint32_t boundaries = regionsY * kBoundariesPerRegion;
    const __m256i limit = _mm256_set1_epi32(threshold);
    const uint64_t zeroWindow = 0 > threshold ? 1 : 0;
    const RegionBits zeroRow{{0 - zeroWindow, 0 - zeroWindow, 0 - zeroWindow, 0 - zeroWindow}};
    const uint32_t zeroRuns = runsInBits(zeroRow);
    for (uint32_t r = 0; r < boundaries; ++r) {
        uint32_t* counts = hRuns + static_cast<uint64_t>(r / kBoundariesPerRegion) * regionsX;
        if (r == 0) {
            for (uint32_t bx = 0; bx < regionsX; ++bx) counts[bx] += zeroRuns;
            continue;
        }
        const uint8_t* row = data + static_cast<uint64_t>(r) * BLOCKLOSS_GRID * stride;
        const uint8_t* above = row - stride;
        for (uint32_t bx = 0; bx < regionsX; ++bx) {
            const uint32_t x0 = bx * BLOCKLOSS_REGION;
            RegionBits f;
            for (uint32_t k = 0; k < 4; ++k) {
                const uint32_t x = x0 + 64 * k;
                f.w[k] = windowFlagsAvx2(row, above, x, limit) |
                         static_cast<uint64_t>(windowFlagsAvx2(row, above, x + 32, limit)) << 32;
            }
            // Column 0's window reaches left of the picture (its bytes there
            // are the row before's last ones): its magnitude is 0.
            if (bx == 0) f.w[0] = (f.w[0] & ~uint64_t{1}) | zeroWindow;
            counts[bx] += runsInBits(f);
        }
    }
}
#endif

LUMAQC_EXPLICIT_AVX2(void, horizontalRuns, horizontalRunsAvx2, horizontalRunsVariant,
                     (const uint8_t* data, uint64_t stride, uint32_t regionsX, uint32_t regionsY, int32_t threshold,
                      uint8_t* flags, uint32_t* hRuns),
                     (data, stride, regionsX, regionsY, threshold, flags, hRuns))

// Pass 3: down each vertical boundary, run lengths that restart at the top of
// every region row; a run counts when its length reaches exactly 12.
LUMAQC_ALWAYS_INLINE void verticalRunsBody(const int32_t* vMags, uint32_t regionsX, uint32_t regionsY,
                                           int32_t threshold, int32_t* lengths, int32_t* columnRuns,
                                           uint32_t* vRuns) {
    const uint32_t boundaries = regionsX * kBoundariesPerRegion;
    for (uint32_t by = 0; by < regionsY; ++by) {
        for (uint32_t c = 0; c < boundaries; ++c) lengths[c] = columnRuns[c] = 0;
        for (uint32_t ry = 0; ry < BLOCKLOSS_REGION; ++ry) {
            const int32_t* mags = vMags + (static_cast<uint64_t>(by) * BLOCKLOSS_REGION + ry) * boundaries;
            for (uint32_t c = 0; c < boundaries; ++c) {
                const int32_t length = mags[c] > threshold ? lengths[c] + 1 : 0;
                lengths[c] = length;
                columnRuns[c] += length == BLOCKLOSS_MIN_RUN ? 1 : 0;
            }
        }
        uint32_t* counts = vRuns + static_cast<uint64_t>(by) * regionsX;
        for (uint32_t bx = 0; bx < regionsX; ++bx) {
            uint32_t n = 0;
            for (uint32_t i = 0; i < kBoundariesPerRegion; ++i)
                n += static_cast<uint32_t>(columnRuns[bx * kBoundariesPerRegion + i]);
            counts[bx] = n;
        }
    }
}
LUMAQC_VARIANTS(void, verticalRuns, verticalRunsBody,
                (const int32_t* vMags, uint32_t regionsX, uint32_t regionsY, int32_t threshold, int32_t* lengths,
                 int32_t* columnRuns, uint32_t* vRuns),
                (vMags, regionsX, regionsY, threshold, lengths, columnRuns, vRuns))


// The magnitudes are integers from 0 to 130050, compared as doubles: m > t
// holds exactly when m > floor(t) for t >= 0, for every m when t < 0, and
// never when t is not a number or above every 32-bit value.
int32_t integerThreshold(double threshold) {
    if (threshold < 0.0) return -1;
    if (threshold < 2147483647.0) return static_cast<int32_t>(threshold);
    return INT32_MAX;
}

}  // namespace

void reserveBlockLoss(BlockLossScratch& scratch, uint64_t w, uint64_t h) {
    const uint32_t W = static_cast<uint32_t>(w);
    const uint32_t H = static_cast<uint32_t>(h);
    if (W < BLOCKLOSS_REGION || H < BLOCKLOSS_REGION) return;
    const uint32_t regionsX = W / BLOCKLOSS_REGION;
    const uint32_t regionsY = H / BLOCKLOSS_REGION;
    const uint32_t gridRows = regionsY * BLOCKLOSS_REGION;
    const uint32_t boundaries = regionsX * kBoundariesPerRegion;
    growScratch(scratch.pairs, 2 * static_cast<uint64_t>(boundaries));
    growScratch(scratch.vMags, static_cast<uint64_t>(gridRows) * boundaries);
    growScratch(scratch.lengths, 2 * static_cast<uint64_t>(boundaries));
    growScratch(scratch.flags, static_cast<uint64_t>(regionsX) * BLOCKLOSS_REGION);
    growScratch(scratch.runs, 2 * static_cast<uint64_t>(regionsX) * regionsY);
}


double blockLoss(const Image* src, IndicatorState& state) {
    if (src->w < BLOCKLOSS_REGION || src->h < BLOCKLOSS_REGION) return -1.0;
    blockLossStart(src, state.blockLoss);
    const uint64_t sum = blockLossRows(state.isa, src, 1, src->h, state.blockLoss);
    return blockLossFinish(state.isa, src, sum, state.blockLoss);
}

namespace {

struct BlockLossLayout {
    uint32_t regionsX, regionsY, gridRows, boundaries;
    uint64_t regions;
    explicit BlockLossLayout(const Image* src)
        : regionsX(static_cast<uint32_t>(src->w) / BLOCKLOSS_REGION),
          regionsY(static_cast<uint32_t>(src->h) / BLOCKLOSS_REGION),
          gridRows(regionsY * BLOCKLOSS_REGION),
          boundaries(regionsX * kBoundariesPerRegion),
          regions(static_cast<uint64_t>(regionsX) * regionsY) {}
};

}  // namespace

void blockLossStart(const Image* src, BlockLossScratch& scratch) {
    const BlockLossLayout l(src);
    growScratch(scratch.pairs, 2 * static_cast<uint64_t>(l.boundaries));
    int32_t* vMags = growScratch(scratch.vMags, static_cast<uint64_t>(l.gridRows) * l.boundaries);
    growScratch(scratch.lengths, 2 * static_cast<uint64_t>(l.boundaries));
    growScratch(scratch.flags, static_cast<uint64_t>(l.regionsX) * BLOCKLOSS_REGION);
    uint32_t* hRuns = growScratch(scratch.runs, 2 * l.regions);
    for (uint64_t i = 0; i < l.regions; ++i) hRuns[i] = 0;
    for (uint32_t c = 0; c < l.boundaries; ++c) vMags[c] = 0;
}

uint64_t blockLossRows(Isa isa, const Image* src, uint64_t first, uint64_t end, BlockLossScratch& scratch) {
    if (end <= first) return 0;
    const BlockLossLayout l(src);
    return edgeSum(isa, src->data, static_cast<uint32_t>(src->w), static_cast<uint32_t>(first),
                   static_cast<uint32_t>(end), l.gridRows, l.boundaries, scratch.pairs.data(),
                   scratch.pairs.data() + l.boundaries, scratch.vMags.data());
}

double blockLossFinish(Isa isa, const Image* src, uint64_t sum, BlockLossScratch& scratch) {
    const uint32_t W = static_cast<uint32_t>(src->w);
    const uint32_t H = static_cast<uint32_t>(src->h);
    const BlockLossLayout l(src);
    int32_t* lengths = scratch.lengths.data();
    uint8_t* flags = scratch.flags.data();
    uint32_t* hRuns = scratch.runs.data();
    uint32_t* vRuns = hRuns + l.regions;

    // The mean runs over every position, the zero first row and column included.
    const double area = static_cast<double>(W * H);
    const double threshold =
        (static_cast<double>(static_cast<int64_t>(sum)) / area) * BLOCKLOSS_THRESHOLD_FACTOR;
    const int32_t above = integerThreshold(threshold);

    horizontalRuns(isa, src->data, src->w, l.regionsX, l.regionsY, above, flags, hRuns);
    verticalRuns(isa, scratch.vMags.data(), l.regionsX, l.regionsY, above, lengths, lengths + l.boundaries, vRuns);

    // Products wrap in 32 bits, their sum is 64-bit.
    int64_t total = 0;
    for (uint64_t i = 0; i < l.regions; ++i) total += static_cast<int32_t>(hRuns[i] * vRuns[i]);
    return static_cast<double>(total) / static_cast<double>(l.regions);
}

}  // namespace lumaqc
