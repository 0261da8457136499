// Signal levels: the lowest and highest luma code and the samples outside the
// legal range in one vectorised walk over the samples; the mean from the
// pixel sum contrast forms; the typical dark and bright codes from the 8 x 8
// block sums that noise, exposure and blackout share, so the levels cost one
// more compare per sample and no per-sample histogram.
#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

// Samples per inner run: its counts of at most this many fit 16 bits.
static constexpr uint64_t kLevelRun = 65535;

static LUMAQC_ALWAYS_INLINE LevelCounts levelCountsBody(const uint8_t* p, uint64_t n, uint8_t low, uint8_t high,
                                                       LevelCounts counts) {
    uint8_t lo = counts.min, hi = counts.max;
    for (uint64_t i0 = 0; i0 < n; i0 += kLevelRun) {
        const uint64_t m = n - i0 < kLevelRun ? n - i0 : kLevelRun;
        const uint8_t* q = p + i0;
        uint16_t below = 0, above = 0;
        for (uint64_t i = 0; i < m; ++i) {
            const uint8_t v = q[i];
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
            below = static_cast<uint16_t>(below + (v < low));
            above = static_cast<uint16_t>(above + (v > high));
        }
        counts.below += below;
        counts.above += above;
    }
    counts.min = lo;
    counts.max = hi;
    return counts;
}

LUMAQC_VARIANTS(LevelCounts, levelCountsOf, levelCountsBody,
                (const uint8_t* p, uint64_t n, uint8_t low, uint8_t high, LevelCounts counts),
                (p, n, low, high, counts))

void levelCountRows(Isa isa, const uint8_t* p, uint64_t n, LumaRange range, LevelCounts& counts) {
    counts = levelCountsOf(isa, p, n, range.low, range.high, counts);
}

void levelOfferBlocks(const int32_t* sums, uint64_t n, uint32_t* histogram) {
    // A block's mean, rounded to the nearest code (halves up).
    for (uint64_t j = 0; j < n; ++j) ++histogram[static_cast<uint32_t>(sums[j] + 32) >> 6];
}

double levelPercentile(const uint32_t* histogram, uint64_t blocks, uint32_t percent) {
    // Without a whole block there is nothing to measure.
    if (blocks == 0) return -1.0;
    // Nearest rank: the smallest code that at least percent % of the blocks reach.
    const uint64_t rank = (blocks * percent + 99) / 100 == 0 ? 1 : (blocks * percent + 99) / 100;
    uint64_t seen = 0;
    for (uint32_t code = 0; code < 256; ++code) {
        seen += histogram[code];
        if (seen >= rank) return static_cast<double>(code);
    }
    return 255.0;
}

double levelFraction(uint64_t w, uint64_t h, uint64_t count) {
    return static_cast<double>(count) / static_cast<double>(w * h);
}

double levelMean(uint64_t w, uint64_t h, uint64_t sum) {
    return static_cast<double>(sum) / static_cast<double>(w * h);
}

static LevelCounts levelCountsOfPicture(const Image* img, const IndicatorState& state) {
    LevelCounts counts;
    levelCountRows(state.isa, img->data, img->w * img->h, state.range, counts);
    return counts;
}

// Histogram of the rounded means of the whole 8 x 8 blocks; their number.
static uint64_t blockMeanHistogram(const Image* img, uint32_t* histogram) {
    const uint64_t blockCols = img->w / BLOCKSIZE;
    const uint64_t blockRows = img->h / BLOCKSIZE;
    alignas(64) uint16_t columns[BLOCK_SPAN * BLOCKSIZE];
    alignas(64) uint16_t sums[BLOCK_SPAN];
    int32_t wide[BLOCK_SPAN];
    for (uint32_t i = 0; i < 256; ++i) histogram[i] = 0;
    for (uint64_t by = 0; by < blockRows; ++by) {
        const uint8_t* top = img->data + by * BLOCKSIZE * img->w;
        for (uint64_t b0 = 0; b0 < blockCols; b0 += BLOCK_SPAN) {
            const uint64_t n = blockCols - b0 < BLOCK_SPAN ? blockCols - b0 : BLOCK_SPAN;
            uint16_t spanLo, spanHi;
            sumBlockSpan(top + b0 * BLOCKSIZE, img->w, n, columns, sums, &spanLo, &spanHi);
            for (uint64_t j = 0; j < n; ++j) wide[j] = sums[j];
            levelOfferBlocks(wide, n, histogram);
        }
    }
    return blockCols * blockRows;
}

double lumaMin(const Image* img, IndicatorState& state) {
    return static_cast<double>(levelCountsOfPicture(img, state).min);
}

double lumaMax(const Image* img, IndicatorState& state) {
    return static_cast<double>(levelCountsOfPicture(img, state).max);
}

double lumaLow(const Image* img, IndicatorState&) {
    uint32_t histogram[256];
    const uint64_t blocks = blockMeanHistogram(img, histogram);
    return levelPercentile(histogram, blocks, LEVEL_LOW_PERCENT);
}

double lumaHigh(const Image* img, IndicatorState&) {
    uint32_t histogram[256];
    const uint64_t blocks = blockMeanHistogram(img, histogram);
    return levelPercentile(histogram, blocks, LEVEL_HIGH_PERCENT);
}

double lumaAvg(const Image* img, IndicatorState& state) {
    uint64_t sum = 0, squares = 0;
    contrastSums(state.isa, img->data, img->w * img->h, &sum, &squares);
    return levelMean(img->w, img->h, sum);
}

double belowRange(const Image* img, IndicatorState& state) {
    return levelFraction(img->w, img->h, levelCountsOfPicture(img, state).below);
}

double aboveRange(const Image* img, IndicatorState& state) {
    return levelFraction(img->w, img->h, levelCountsOfPicture(img, state).above);
}

}  // namespace lumaqc
