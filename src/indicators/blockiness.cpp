#include <cmath>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// Pixels per pass along a horizontal grid line, and rows per pass down the
// vertical grid lines: each step is at most 255, so a pass sums below 2^32.
constexpr uint64_t BLOCKINESS_ROW_SPAN = uint64_t{1} << 16;
constexpr uint64_t BLOCKINESS_ROWS_PER_PASS = uint64_t{1} << 16;
// Vertical grid lines followed side by side in one walk down the rows.
constexpr uint64_t BLOCKINESS_LINES_PER_WALK = 1024;

static LUMAQC_ALWAYS_INLINE uint32_t absStep(uint8_t a, uint8_t b) {
    const int32_t d = static_cast<int32_t>(a) - static_cast<int32_t>(b);
    return static_cast<uint32_t>(d < 0 ? -d : d);
}

struct StepTotals {
    uint64_t inside;
    uint64_t across;
    int64_t runInside;
    int64_t runAcross;
};

// Lines between rows: the step from row k-2 to k-1 lies inside the block
// above the line, the step from k-1 to k crosses it. The running sums are
// carried on from one line to the next, so the first line weighs as many
// times as there are lines and the last one once.
// Only the lines at rows k in [kBegin, kEnd) are added to the totals given.
static LUMAQC_ALWAYS_INLINE StepTotals horizontalLinesBody(const uint8_t* p, uint64_t stride, uint64_t w,
                                                          uint64_t h, uint64_t kBegin, uint64_t kEnd,
                                                          StepTotals totals) {
    int64_t runInside = totals.runInside;
    int64_t runAcross = totals.runAcross;
    uint64_t kFirst = (kBegin + BLOCKSIZE - 1) / BLOCKSIZE * BLOCKSIZE;
    if (kFirst < BLOCKSIZE) kFirst = BLOCKSIZE;
    for (uint64_t k = kFirst; k < kEnd && k + BLOCKSIZE <= h; k += BLOCKSIZE) {
        const uint8_t* above2 = p + (k - 2) * stride;
        const uint8_t* above1 = p + (k - 1) * stride;
        const uint8_t* below = p + k * stride;
        for (uint64_t x0 = 0; x0 < w; x0 += BLOCKINESS_ROW_SPAN) {
            const uint64_t end = w - x0 < BLOCKINESS_ROW_SPAN ? w : x0 + BLOCKINESS_ROW_SPAN;
            uint32_t inside = 0;
            uint32_t across = 0;
            for (uint64_t x = x0; x < end; ++x) inside += absStep(above1[x], above2[x]);
            for (uint64_t x = x0; x < end; ++x) across += absStep(above1[x], below[x]);
            runInside += inside;
            runAcross += across;
        }
        totals.inside += static_cast<uint64_t>(runInside);
        totals.across += static_cast<uint64_t>(runAcross);
    }
    totals.runInside = runInside;
    totals.runAcross = runAcross;
    return totals;
}

// Per-line sums of the vertical grid lines first, first + 1, ...,
// first + n - 1 (n at most BLOCKINESS_LINES_PER_WALK) over the rows
// [yBegin, yEnd), added to inside and across: the line at k = 8 (j + 1) reads
// columns k - 2, k - 1 and k of every row, so all n lines are followed in one
// walk down the rows.
static LUMAQC_ALWAYS_INLINE void verticalLineSumsBody(const uint8_t* p, uint64_t stride, uint64_t yBegin,
                                                     uint64_t yEnd, uint64_t first, uint64_t n, uint64_t* inside,
                                                     uint64_t* across) {
    for (uint64_t y0 = yBegin; y0 < yEnd; y0 += BLOCKINESS_ROWS_PER_PASS) {
        const uint64_t y1 = yEnd - y0 < BLOCKINESS_ROWS_PER_PASS ? yEnd : y0 + BLOCKINESS_ROWS_PER_PASS;
        uint32_t passInside[BLOCKINESS_LINES_PER_WALK] = {};
        uint32_t passAcross[BLOCKINESS_LINES_PER_WALK] = {};
        for (uint64_t y = y0; y < y1; ++y) {
            // Column k - 2 of the first line.
            const uint8_t* q = p + y * stride + first * BLOCKSIZE + (BLOCKSIZE - 2);
            for (uint64_t j = 0; j < n; ++j) {
                const uint8_t left = q[j * BLOCKSIZE];
                const uint8_t mid = q[j * BLOCKSIZE + 1];
                const uint8_t right = q[j * BLOCKSIZE + 2];
                passInside[j] += absStep(mid, left);
                passAcross[j] += absStep(mid, right);
            }
        }
        for (uint64_t j = 0; j < n; ++j) {
            inside[j] += passInside[j];
            across[j] += passAcross[j];
        }
    }
}

LUMAQC_VARIANTS(StepTotals, horizontalLines, horizontalLinesBody,
                (const uint8_t* p, uint64_t stride, uint64_t w, uint64_t h, uint64_t kBegin, uint64_t kEnd,
                 StepTotals totals),
                (p, stride, w, h, kBegin, kEnd, totals))
LUMAQC_VARIANTS(void, verticalLineSumsVariant, verticalLineSumsBody,
                (const uint8_t* p, uint64_t stride, uint64_t yBegin, uint64_t yEnd, uint64_t first, uint64_t n,
                 uint64_t* inside, uint64_t* across),
                (p, stride, yBegin, yEnd, first, n, inside, across))

#ifdef LUMAQC_X86_VARIANTS
// Four lines at a time, down the rows: with d(x) = |p[x] - p[x - 1]|, the
// line at k = 8 (g + 1) takes d(8 g + 7) inside and d(8 g + 8) across, bytes
// 6 and 7 of group g of the differences of the columns from 8 g + 1 on. One
// byte shuffle spreads them into 16-bit lanes (inside and across of the two
// lines of each 128-bit half), which take 256 rows of differences before
// they are carried on in 64 bits. The lines left over go one by one.
LUMAQC_TARGET_AVX2 static void verticalLineSumsAvx2(const uint8_t* p, uint64_t stride, uint64_t yBegin, uint64_t yEnd,
                                                    uint64_t first, uint64_t n, uint64_t* inside, uint64_t* across) {
    const __m256i spread = _mm256_setr_epi8(6, -1, 7, -1, 14, -1, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                            6, -1, 7, -1, 14, -1, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    uint64_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const uint8_t* column = p + (first + j) * BLOCKSIZE;
        for (uint64_t y0 = yBegin; y0 < yEnd; y0 += 256) {
            const uint64_t y1 = yEnd - y0 < 256 ? yEnd : y0 + 256;
            __m256i sums = _mm256_setzero_si256();
            for (uint64_t y = y0; y < y1; ++y) {
                const uint8_t* q = column + y * stride;
                const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
                const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 1));
                const __m256i d = _mm256_or_si256(_mm256_subs_epu8(here, before), _mm256_subs_epu8(before, here));
                sums = _mm256_add_epi16(sums, _mm256_shuffle_epi8(d, spread));
            }
            alignas(32) uint16_t lanes[16];
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums);
            for (int l = 0; l < 4; ++l) {
                inside[j + l] += lanes[8 * (l / 2) + 2 * (l % 2)];
                across[j + l] += lanes[8 * (l / 2) + 2 * (l % 2) + 1];
            }
        }
    }
    if (j < n) verticalLineSumsBody(p, stride, yBegin, yEnd, first + j, n - j, inside + j, across + j);
}
#endif

LUMAQC_EXPLICIT_AVX2(void, verticalLineSums, verticalLineSumsAvx2, verticalLineSumsVariant,
                     (const uint8_t* p, uint64_t stride, uint64_t yBegin, uint64_t yEnd, uint64_t first, uint64_t n,
                      uint64_t* inside, uint64_t* across),
                     (p, stride, yBegin, yEnd, first, n, inside, across))

namespace {

double stepRatio(uint64_t inside, uint64_t across) {
    const double ratio = static_cast<double>(inside) / static_cast<double>(across);
    // No step anywhere on or beside the grid: nothing to tell, call it neutral.
    if (std::isnan(ratio)) return 1.0;
    return ratio;
}

}  // namespace

// The running sums are carried on from one grid line to the next, so the
// first line of each direction weighs as many times as there are lines and
// the last one once. They are 64 bits wide: 255 x width x lines leaves 32 bits
// above 7680 x 4320, and below that the values are the same.

double blockiness(const Image* img, IndicatorState& state) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint8_t* p = img->data;
    const uint64_t stride = w;
    const Isa isa = state.isa;

    const StepTotals horizontal = horizontalLines(isa, p, stride, w, h, 0, h, StepTotals{0, 0, 0, 0});

    // Lines between columns, the same with columns k-2, k-1 and k, at
    // k = 8, 16, ... while k + 8 <= w.
    uint64_t insideV = 0, acrossV = 0;
    int64_t runInside = 0, runAcross = 0;
    const uint64_t lines = w >= 2 * BLOCKSIZE ? w / BLOCKSIZE - 1 : 0;
    uint64_t lineInside[BLOCKINESS_LINES_PER_WALK];
    uint64_t lineAcross[BLOCKINESS_LINES_PER_WALK];
    for (uint64_t first = 0; first < lines; first += BLOCKINESS_LINES_PER_WALK) {
        const uint64_t n = lines - first < BLOCKINESS_LINES_PER_WALK ? lines - first : BLOCKINESS_LINES_PER_WALK;
        for (uint64_t j = 0; j < n; ++j) lineInside[j] = lineAcross[j] = 0;
        verticalLineSums(isa, p, stride, 0, h, first, n, lineInside, lineAcross);
        for (uint64_t j = 0; j < n; ++j) {
            runInside += static_cast<int64_t>(lineInside[j]);
            runAcross += static_cast<int64_t>(lineAcross[j]);
            insideV += static_cast<uint64_t>(runInside);
            acrossV += static_cast<uint64_t>(runAcross);
        }
    }

    return stepRatio(horizontal.inside + insideV, horizontal.across + acrossV);
}

void blockinessStart(BlockinessSums& sums, uint64_t w) {
    const uint64_t lines = w >= 2 * BLOCKSIZE ? w / BLOCKSIZE - 1 : 0;
    sums.insideH = sums.acrossH = 0;
    sums.runInside = sums.runAcross = 0;
    sums.lineInside.assign(lines, 0);
    sums.lineAcross.assign(lines, 0);
}

void blockinessRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t h, uint64_t rowFirst, uint64_t rowEnd,
                    BlockinessSums& sums) {
    StepTotals t = horizontalLines(isa, data, w, w, h, rowFirst, rowEnd,
                                   StepTotals{sums.insideH, sums.acrossH, sums.runInside, sums.runAcross});
    sums.insideH = t.inside;
    sums.acrossH = t.across;
    sums.runInside = t.runInside;
    sums.runAcross = t.runAcross;
    const uint64_t lines = sums.lineInside.size();
    for (uint64_t first = 0; first < lines; first += BLOCKINESS_LINES_PER_WALK) {
        const uint64_t n = lines - first < BLOCKINESS_LINES_PER_WALK ? lines - first : BLOCKINESS_LINES_PER_WALK;
        verticalLineSums(isa, data, w, rowFirst, rowEnd, first, n, sums.lineInside.data() + first,
                         sums.lineAcross.data() + first);
    }
}

double blockinessFinish(uint64_t, BlockinessSums& sums) {
    uint64_t insideV = 0, acrossV = 0;
    int64_t runInside = 0, runAcross = 0;
    for (uint64_t j = 0; j < sums.lineInside.size(); ++j) {
        runInside += static_cast<int64_t>(sums.lineInside[j]);
        runAcross += static_cast<int64_t>(sums.lineAcross[j]);
        insideV += static_cast<uint64_t>(runInside);
        acrossV += static_cast<uint64_t>(runAcross);
    }
    return stepRatio(sums.insideH + insideV, sums.acrossH + acrossV);
}

double blockToMOS(double blockinessValue) {
    const double score = (blockinessValue * 17.86 - 10.38) * 0.5;
    return score > 0.0 ? score : 0.0;
}

}  // namespace lumaqc
