#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"
#include "tools/scratch.hpp"

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
// row's signs are kept one byte per column (1 rising, 2 falling, 0 for no
// difference and for the columns outside 2 ... W - 2), and a run is measured
// eight columns at a time. A run longer than that is looked up through a memo
// of the last run met per sign and direction, so that a row with many edges
// inside one long run is still walked in linear time.

namespace {

// Most columns summed in one 32-bit accumulator: 8192 * 255^2 < 2^31.
constexpr uint32_t kSumChunk = 8192;
// Zero bytes kept before and after the row's signs, one window wide.
constexpr uint32_t kWindow = 8;
constexpr uint64_t kOnes = 0x0101010101010101ull;
// Edge marks are looked through this many columns at a time.
constexpr uint32_t kScanStep = 32;

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
LUMAQC_VARIANTS(int32_t, squaredSteps, squaredStepsBody, (const uint8_t* p, uint32_t n), (p, n))

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

// Eight bytes, the one at p in the lowest bits.
uint64_t loadWord(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

// Of eight sign bytes, 0x01 in every byte that does not hold the given sign.
uint64_t breaks(uint64_t signs, uint8_t s) { return ((signs & (kOnes * s)) >> (s - 1)) ^ kOnes; }

// The longest stretch of columns around a column whose differences all have
// one sign, inside columns 2 ... W - 2. Empty (lo > hi) until set.
struct Run {
    uint32_t lo = 1;
    uint32_t hi = 0;
};

// The run of columns of sign s that holds column c (whose sign is s), through
// the memo. sign[] is 0 outside columns 2 ... W - 2, which bounds the run.
const Run& runAt(const uint8_t* sign, Run& memo, uint32_t c, uint8_t s) {
    if (memo.lo <= c && c <= memo.hi) return memo;
    uint32_t lo = c;
    while (sign[lo - 1] == s) --lo;
    uint32_t hi = c;
    while (sign[hi + 1] == s) ++hi;
    memo.lo = lo;
    memo.hi = hi;
    return memo;
}

// Left part plus right part of the edge at column c of row cur.
uint32_t edgeWidth(const uint8_t* cur, const uint8_t* sign, uint32_t c, Run* leftRuns, Run* rightRuns) {
    const int32_t a = static_cast<int32_t>(cur[c]) - cur[c - 1];  // never 0 at an edge
    const int32_t b = static_cast<int32_t>(cur[c + 1]) - cur[c];
    const uint8_t s = a < 0 || b < 0 ? kFalling : kRising;

    // Right part: column c + 1 keeps the sign (and is not past W - 2), then
    // the run from c + 2 on.
    uint32_t right = 0;
    if (sign[c + 1] == s) {
        const uint64_t stop = breaks(loadWord(sign + c + 2), s);
        if (stop != 0)
            right = 1 + static_cast<uint32_t>(std::countr_zero(stop)) / 8;
        else
            right = 1 + (runAt(sign, rightRuns[s], c + 2, s).hi - (c + 2) + 1);
    }
    // Left part: column c keeps the sign (and is past column 1), then the run
    // from c - 1 down.
    uint32_t left = 0;
    if (sign[c] == s) {
        const uint64_t stop = breaks(loadWord(sign + c - 8), s);
        if (stop != 0)
            left = 1 + static_cast<uint32_t>(std::countl_zero(stop)) / 8;
        else
            left = 1 + ((c - 1) - runAt(sign, leftRuns[s], c - 1, s).lo + 1);
    }
    return left + right;
}

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

// The edges of rows first ... end - 1 (1 <= first, end <= H - 1) whose step
// is at least k: onEdge(row, column, width) for each, row by row, column by
// column.
template <typename OnEdge>
void scanRows(Isa isa, const uint8_t* pixels, uint32_t W, uint32_t first, uint32_t end, uint8_t k,
              BlurScratch& scratch, OnEdge&& onEdge) {
    // Row scratch, kept from call to call: edge marks by column, the row's
    // signs by column with a window of zeros on either side, and a zero row
    // standing for the differences above row 1.
    std::vector<uint8_t>& zeroRow = scratch.zeroRow;
    uint8_t* const edge = growScratch(scratch.edge, static_cast<uint64_t>(W) + kScanStep);
    uint8_t* const sign = growScratch(scratch.sign, static_cast<uint64_t>(W) + 2 * kWindow) + kWindow;
    growScratch(zeroRow, W);
    // Columns 0 and 1 and from W - 1 on are never written by the row marks.
    edge[0] = 0;
    std::memset(edge + (W - 1), 0, kScanStep + 1);
    std::memset(sign - kWindow, 0, kWindow + 2);
    std::memset(sign + (W - 1), 0, kWindow + 1);

    for (uint32_t r = first; r < end; ++r) {
        const uint8_t* cur = pixels + static_cast<uint64_t>(r) * W;
        const uint8_t* up = cur - W;
        const uint8_t* down = cur + W;
        const uint8_t* upGx = r == 1 ? zeroRow.data() : up;
        uint8_t any = markInnerColumns(isa, cur, up, upGx, down, edge, sign, W, k);

        // Column 1: the difference before it (column 0) is 0.
        {
            const uint8_t a = absoluteDifference(cur[1], cur[0]);
            const bool horizontalPeak =
                a > absoluteDifference(cur[2], cur[1]) && a >= absoluteDifference(cur[1], up[1]);
            const bool verticalPeak =
                absoluteDifference(upGx[1], upGx[0]) <= a && a > absoluteDifference(down[1], down[0]);
            edge[1] = static_cast<uint8_t>(a >= k && (horizontalPeak || verticalPeak));
            any |= edge[1];
        }
        if (any == 0) continue;

        Run leftRuns[3];
        Run rightRuns[3];
        for (uint32_t x0 = 0; x0 < W - 1; x0 += kScanStep) {
            // Most stretches of 32 columns hold no edge.
            if ((loadWord(edge + x0) | loadWord(edge + x0 + 8) | loadWord(edge + x0 + 16) | loadWord(edge + x0 + 24)) ==
                0)
                continue;
            for (uint32_t x = x0; x < x0 + kScanStep; x += 8) {
                for (uint64_t word = loadWord(edge + x); word != 0; word &= word - 1) {
                    // Marks are 0 or 1: word & (word - 1) clears the lowest one.
                    const uint32_t c = x + static_cast<uint32_t>(std::countr_zero(word)) / 8;
                    onEdge(cur, c, edgeWidth(cur, sign, c, leftRuns, rightRuns));
                }
            }
        }
    }
}

}  // namespace

void reserveBlur(
BlurScratch& scratch, uint64_t w, uint64_t h) {
    const uint32_t W = static_cast<uint32_t>(w);
    if (static_cast<uint32_t>(h) < 3 || W < 3) return;
    growScratch(scratch.edge, static_cast<uint64_t>(W) + kScanStep);
    growScratch(scratch.sign, static_cast<uint64_t>(W) + 2 * kWindow);
    growScratch(scratch.zeroRow, W);
}

double blur(const Image* img) { return blur(img, defaultIndicatorState()); }

double blur(const Image* img, IndicatorState& state) {
    const uint32_t W = static_cast<uint32_t>(img->w);
    const uint32_t H = static_cast<uint32_t>(img->h);
    // One or two rows, or fewer than three columns: nothing is scanned.
    if (H < 3 || W < 3) return 0.0;

    return blurFinish(img, state, squaredStepSum(state.isa, img->data, W, H));
}

uint64_t blurStepRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end) {
    // Columns 1 ... w - 1 of each row: the steps from column 0 on, in chunks.
    uint64_t total = 0;
    if (w < 2) return 0;
    for (uint64_t r = first; r < end; ++r) {
        const uint8_t* row = data + r * w;
        for (uint64_t x = 0; x + 1 < w; x += kSumChunk) {
            const uint64_t left = w - 1 - x;
            const uint32_t n = static_cast<uint32_t>(left < kSumChunk ? left : kSumChunk);
            total += static_cast<uint64_t>(squaredSteps(isa, row + x, n));
        }
    }
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
    uint32_t edges = 0;
    uint32_t widths = 0;
    scanRows(isa, pixels, W, 1, H - 1, static_cast<uint8_t>(k), state.blur,
             [&](const uint8_t*, uint32_t, uint32_t width) {
                 ++edges;
                 widths += width;
             });
    return edgeMean(edges, widths);
}

void blurBandRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t h, uint64_t first, uint64_t end,
                  IndicatorState& state) {
    BlurBands& bands = state.blurBands;
    if (!bands.active || w < 3 || h < 3) return;
    const uint32_t W = static_cast<uint32_t>(w);
    const uint64_t stop = end < h - 1 ? end : h - 1;
    if (first >= stop) return;
    scanRows(isa, data, W, static_cast<uint32_t>(first), static_cast<uint32_t>(stop), static_cast<uint8_t>(bands.low),
             state.blur, [&](const uint8_t* cur, uint32_t c, uint32_t width) {
                 const uint8_t a = absoluteDifference(cur[c], cur[c - 1]);
                 ++bands.edges[a];
                 bands.widths[a] += width;
             });
}

void blurBandsStart(uint64_t w, uint64_t h, IndicatorState& state) {
    BlurBands& bands = state.blurBands;
    bands.active = w >= 3 && h >= 3 && bands.lastStep != 0;
    if (!bands.active) return;
    // A little below the last picture's smallest edge step, so that the
    // next picture's step is rarely below it.
    const uint32_t last = bands.lastStep;
    const uint32_t margin = last / 8 + 1;
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
