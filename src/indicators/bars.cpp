#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

// Pixels summed per step of a row before the dark test looks at the sum.
constexpr uint64_t BAR_ROW_SPAN = 4096;
// Columns summed side by side: one cache line of each row.
constexpr uint64_t BAR_COLUMN_SPAN = 64;
// Rows summed before the 32-bit column sums of squares are carried into 64
// bits: 65536 squares of 255 stay below 2^32.
constexpr uint64_t BAR_COLUMN_ROWS = 65536;

// Whether the row of n pixels belongs to a bar. Its sums grow only, so the
// row fails as soon as the sum of a prefix passes the dark limit of the row.
static LUMAQC_ALWAYS_INLINE bool barRowBody(const uint8_t* row, uint64_t n) {
    const uint64_t limit = static_cast<uint64_t>(BAR_LIMIT) * n;
    uint64_t sum = 0, squares = 0;
    for (uint64_t x0 = 0; x0 < n; x0 += BAR_ROW_SPAN) {
        const uint64_t end = n - x0 < BAR_ROW_SPAN ? n : x0 + BAR_ROW_SPAN;
        uint32_t s = 0, q = 0;
        for (uint64_t x = x0; x < end; ++x) {
            const uint32_t p = row[x];
            s += p;
            q += p * p;
        }
        sum += s;
        squares += q;
        if (sum > limit) return false;
    }
    return isBarLine(n, sum, squares);
}

LUMAQC_VARIANTS(bool, barRow, barRowBody, (const uint8_t* row, uint64_t n), (row, n))

// The sums of the columns [x0, x0 + n) (n <= BAR_COLUMN_SPAN) over the rows
// [y0, y1), into sums and squares.
static LUMAQC_ALWAYS_INLINE void columnSumsBody(const uint8_t* data, uint64_t stride, uint64_t x0, uint64_t n,
                                                uint64_t y0, uint64_t y1, uint64_t* sums, uint64_t* squares) {
    for (uint64_t i = 0; i < n; ++i) sums[i] = squares[i] = 0;
    for (uint64_t r0 = y0; r0 < y1; r0 += BAR_COLUMN_ROWS) {
        const uint64_t r1 = y1 - r0 < BAR_COLUMN_ROWS ? y1 : r0 + BAR_COLUMN_ROWS;
        uint32_t s[BAR_COLUMN_SPAN] = {}, q[BAR_COLUMN_SPAN] = {};
        for (uint64_t y = r0; y < r1; ++y) {
            const uint8_t* p = data + y * stride + x0;
            if (n == BAR_COLUMN_SPAN) {
                for (uint64_t i = 0; i < BAR_COLUMN_SPAN; ++i) {
                    s[i] += p[i];
                    q[i] += static_cast<uint32_t>(p[i]) * p[i];
                }
            } else {
                for (uint64_t i = 0; i < n; ++i) {
                    s[i] += p[i];
                    q[i] += static_cast<uint32_t>(p[i]) * p[i];
                }
            }
        }
        for (uint64_t i = 0; i < n; ++i) {
            sums[i] += s[i];
            squares[i] += q[i];
        }
    }
}

LUMAQC_VARIANTS(void, columnSums, columnSumsBody,
                (const uint8_t* data, uint64_t stride, uint64_t x0, uint64_t n, uint64_t y0, uint64_t y1,
                 uint64_t* sums, uint64_t* squares),
                (data, stride, x0, n, y0, y1, sums, squares))

// Bar columns from one edge inwards over the rows [y0, y1), at most limit of
// them: from the left (fromLeft) or from the right edge.
static uint64_t barColumns(Isa isa, const Image* img, uint64_t y0, uint64_t y1, uint64_t limit, bool fromLeft) {
    uint64_t sums[BAR_COLUMN_SPAN], squares[BAR_COLUMN_SPAN];
    uint64_t count = 0;
    while (count < limit) {
        const uint64_t n = limit - count < BAR_COLUMN_SPAN ? limit - count : BAR_COLUMN_SPAN;
        // Column i of the span lies i columns further in from the edge.
        const uint64_t x0 = fromLeft ? count : img->w - count - n;
        columnSums(isa, img->data, img->w, x0, n, y0, y1, sums, squares);
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t k = fromLeft ? i : n - 1 - i;
            if (!isBarLine(y1 - y0, sums[k], squares[k])) return count + i;
        }
        count += n;
    }
    return count;
}

BarSizes barSizes(const Image* img, IndicatorState& state) {
    const uint64_t w = img->w;
    const uint64_t h = img->h;
    BarSizes bars;
    uint64_t top = 0;
    while (top < h && barRow(state.isa, img->data + top * w, w)) ++top;
    // A picture that is all bar frames nothing: no bars.
    if (top == h) return bars;
    uint64_t bottom = 0;
    while (h - bottom - 1 > top && barRow(state.isa, img->data + (h - bottom - 1) * w, w)) ++bottom;
    const uint64_t left = barColumns(state.isa, img, top, h - bottom, w, true);
    const uint64_t right = left == w ? 0 : barColumns(state.isa, img, top, h - bottom, w - left, false);
    bars.top = static_cast<double>(top);
    bars.bottom = static_cast<double>(bottom);
    bars.left = left == w ? 0.0 : static_cast<double>(left);
    bars.right = static_cast<double>(right);
    return bars;
}

double barTop(const Image* img, IndicatorState& state) { return barSizes(img, state).top; }
double barBottom(const Image* img, IndicatorState& state) { return barSizes(img, state).bottom; }
double barLeft(const Image* img, IndicatorState& state) { return barSizes(img, state).left; }
double barRight(const Image* img, IndicatorState& state) { return barSizes(img, state).right; }

}  // namespace lumaqc
