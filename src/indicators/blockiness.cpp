#include <cmath>

#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

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
};

// Lines between rows: the step from row k-2 to k-1 lies inside the block
// above the line, the step from k-1 to k crosses it. The running sums are
// carried on from one line to the next, so the first line weighs as many
// times as there are lines and the last one once.
static LUMAQC_ALWAYS_INLINE StepTotals horizontalLinesBody(const uint8_t* p, uint64_t stride, uint64_t w,
                                                          uint64_t h) {
    StepTotals totals{0, 0};
    int64_t runInside = 0;
    int64_t runAcross = 0;
    for (uint64_t k = BLOCKSIZE; k + BLOCKSIZE <= h; k += BLOCKSIZE) {
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
    return totals;
}

// Per-line sums of the vertical grid lines first, first + 1, ...,
// first + n - 1 (n at most BLOCKINESS_LINES_PER_WALK) over all rows: the
// line at k = 8 (j + 1) reads columns k - 2, k - 1 and k of every row, so all
// n lines are followed in one walk down the rows.
static LUMAQC_ALWAYS_INLINE void verticalLineSumsBody(const uint8_t* p, uint64_t stride, uint64_t h, uint64_t first,
                                                     uint64_t n, uint64_t* inside, uint64_t* across) {
    for (uint64_t j = 0; j < n; ++j) {
        inside[j] = 0;
        across[j] = 0;
    }
    for (uint64_t y0 = 0; y0 < h; y0 += BLOCKINESS_ROWS_PER_PASS) {
        const uint64_t y1 = h - y0 < BLOCKINESS_ROWS_PER_PASS ? h : y0 + BLOCKINESS_ROWS_PER_PASS;
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
                (const uint8_t* p, uint64_t stride, uint64_t w, uint64_t h), (p, stride, w, h))
LUMAQC_VARIANTS(void, verticalLineSums, verticalLineSumsBody,
                (const uint8_t* p, uint64_t stride, uint64_t h, uint64_t first, uint64_t n, uint64_t* inside,
                 uint64_t* across),
                (p, stride, h, first, n, inside, across))

// The running sums are carried on from one grid line to the next, so the
// first line of each direction weighs as many times as there are lines and
// the last one once. They are 64 bits wide: 255 x width x lines leaves 32 bits
// above 7680 x 4320, and below that the values are the same.
double blockiness(const Image* img) { return blockiness(img, defaultIndicatorState()); }

double blockiness(const Image* img, IndicatorState& state) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint8_t* p = img->data;
    const uint64_t stride = w;
    const Isa isa = state.isa;

    const StepTotals horizontal = horizontalLines(isa, p, stride, w, h);

    // Lines between columns, the same with columns k-2, k-1 and k, at
    // k = 8, 16, ... while k + 8 <= w.
    uint64_t insideV = 0, acrossV = 0;
    int64_t runInside = 0, runAcross = 0;
    const uint64_t lines = w >= 2 * BLOCKSIZE ? w / BLOCKSIZE - 1 : 0;
    uint64_t lineInside[BLOCKINESS_LINES_PER_WALK];
    uint64_t lineAcross[BLOCKINESS_LINES_PER_WALK];
    for (uint64_t first = 0; first < lines; first += BLOCKINESS_LINES_PER_WALK) {
        const uint64_t n = lines - first < BLOCKINESS_LINES_PER_WALK ? lines - first : BLOCKINESS_LINES_PER_WALK;
        verticalLineSums(isa, p, stride, h, first, n, lineInside, lineAcross);
        for (uint64_t j = 0; j < n; ++j) {
            runInside += static_cast<int64_t>(lineInside[j]);
            runAcross += static_cast<int64_t>(lineAcross[j]);
            insideV += static_cast<uint64_t>(runInside);
            acrossV += static_cast<uint64_t>(runAcross);
        }
    }

    const uint64_t inside = horizontal.inside + insideV;
    const uint64_t across = horizontal.across + acrossV;
    const double ratio = static_cast<double>(inside) / static_cast<double>(across);
    // No step anywhere on or beside the grid: nothing to tell, call it neutral.
    if (std::isnan(ratio)) return 1.0;
    return ratio;
}

double blockToMOS(double blockinessValue) {
    const double score = (blockinessValue * 17.86 - 10.38) * 0.5;
    return score > 0.0 ? score : 0.0;
}

}  // namespace lumaqc
