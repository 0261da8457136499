// Signal levels: the lowest and highest luma code in one vectorised walk over
// the samples, and the samples outside the legal range counted only where
// that walk found any; the mean from the pixel sum contrast forms; the
// typical dark and bright codes from the 8 x 8 block sums that noise,
// exposure and blackout share. On legal pictures the levels cost a minimum
// and a maximum per sample and no per-sample histogram.
#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"
#include "simd/isa.hpp"

namespace lumaqc {

// Bytes side by side in the loops below, so that each runs as whole vectors,
// and rows of them per run: a lane's count of at most 255 fits its byte.
static constexpr uint64_t kLanes = 64;
static constexpr uint64_t kRunRows = 255;

// The samples below low and above high, counted lane by lane in bytes.
static LUMAQC_ALWAYS_INLINE void countOutsideBody(const uint8_t* p, uint64_t n, uint8_t low, uint8_t high,
                                                  LevelCounts& counts) {
    const uint64_t whole = n / kLanes * kLanes;
    for (uint64_t i0 = 0; i0 < whole; i0 += kLanes * kRunRows) {
        const uint64_t end = whole - i0 < kLanes * kRunRows ? whole : i0 + kLanes * kRunRows;
        alignas(64) uint8_t below[kLanes] = {};
        alignas(64) uint8_t above[kLanes] = {};
        for (uint64_t i = i0; i < end; i += kLanes)
            for (uint64_t l = 0; l < kLanes; ++l) {
                below[l] = static_cast<uint8_t>(below[l] + (p[i + l] < low));
                above[l] = static_cast<uint8_t>(above[l] + (p[i + l] > high));
            }
        for (uint64_t l = 0; l < kLanes; ++l) {
            counts.below += below[l];
            counts.above += above[l];
        }
    }
    for (uint64_t i = whole; i < n; ++i) {
        counts.below += p[i] < low;
        counts.above += p[i] > high;
    }
}

// The lowest and highest sample first; the samples outside the range are
// counted only where there are any, which legal pictures never have.
static LUMAQC_ALWAYS_INLINE LevelCounts levelCountsBody(const uint8_t* p, uint64_t n, uint8_t low, uint8_t high,
                                                       LevelCounts counts) {
    const uint64_t whole = n / kLanes * kLanes;
    alignas(64) uint8_t lo[kLanes], hi[kLanes];
    for (uint64_t l = 0; l < kLanes; ++l) {
        lo[l] = 255;
        hi[l] = 0;
    }
    for (uint64_t i = 0; i < whole; i += kLanes)
        for (uint64_t l = 0; l < kLanes; ++l) {
            lo[l] = p[i + l] < lo[l] ? p[i + l] : lo[l];
            hi[l] = p[i + l] > hi[l] ? p[i + l] : hi[l];
        }
    uint8_t least = 255, most = 0;
    for (uint64_t l = 0; l < kLanes; ++l) {
        least = lo[l] < least ? lo[l] : least;
        most = hi[l] > most ? hi[l] : most;
    }
    for (uint64_t i = whole; i < n; ++i) {
        least = p[i] < least ? p[i] : least;
        most = p[i] > most ? p[i] : most;
    }
    if (n != 0 && (least < low || most > high)) countOutsideBody(p, n, low, high, counts);
    counts.min = least < counts.min ? least : counts.min;
    counts.max = most > counts.max ? most : counts.max;
    return counts;
}

LUMAQC_VARIANTS(LevelCounts, levelCountsOf, levelCountsBody,
                (const uint8_t* p, uint64_t n, uint8_t low, uint8_t high, LevelCounts counts),
                (p, n, low, high, counts))

void levelCountRows(Isa isa, const uint8_t* p, uint64_t n, LumaRange range, LevelCounts& counts) {
    counts = levelCountsOf(isa, p, n, range.low, range.high, counts);
}

void levelOfferBlocks(const int32_t* sums, uint64_t n, uint32_t* histogram) {
    // A block's mean, rounded to the nearest code (halves up). Neighbouring
    // blocks go to different tables, so that runs of equal means do not wait
    // on one counter.
    uint64_t j = 0;
    for (; j + LEVEL_TABLES <= n; j += LEVEL_TABLES)
        for (uint64_t t = 0; t < LEVEL_TABLES; ++t) ++histogram[t * 256 + (static_cast<uint32_t>(sums[j + t] + 32) >> 6)];
    for (; j < n; ++j) ++histogram[static_cast<uint32_t>(sums[j] + 32) >> 6];
}

double levelPercentile(const uint32_t* histogram, uint64_t blocks, uint32_t percent) {
    // Without a whole block there is nothing to measure.
    if (blocks == 0) return -1.0;
    // Nearest rank: the smallest code that at least percent % of the blocks reach.
    const uint64_t rank = (blocks * percent + 99) / 100 == 0 ? 1 : (blocks * percent + 99) / 100;
    uint64_t seen = 0;
    for (uint32_t code = 0; code < 256; ++code) {
        for (uint64_t t = 0; t < LEVEL_TABLES; ++t) seen += histogram[t * 256 + code];
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
    for (uint64_t i = 0; i < LEVEL_TABLES * 256; ++i) histogram[i] = 0;
    forEachBlockSpan(img,
                     [&](uint64_t, uint64_t, const int32_t* sums, uint64_t n) { levelOfferBlocks(sums, n, histogram); });
    return (img->w / BLOCKSIZE) * (img->h / BLOCKSIZE);
}

double lumaMin(const Image* img, IndicatorState& state) {
    return static_cast<double>(levelCountsOfPicture(img, state).min);
}

double lumaMax(const Image* img, IndicatorState& state) {
    return static_cast<double>(levelCountsOfPicture(img, state).max);
}

double lumaLow(const Image* img, IndicatorState&) {
    uint32_t histogram[LEVEL_TABLES * 256];
    const uint64_t blocks = blockMeanHistogram(img, histogram);
    return levelPercentile(histogram, blocks, LEVEL_LOW_PERCENT);
}

double lumaHigh(const Image* img, IndicatorState&) {
    uint32_t histogram[LEVEL_TABLES * 256];
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
