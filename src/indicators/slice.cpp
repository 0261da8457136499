// Slice: how much more often a pixel repeats the pixel 16 columns to its
// right than the pixel 16 rows below it, strip by strip.
//
// Per strip k (rows 16k..16k+15, k < nV) one pass counts the pixels equal to
// the pixel 16 rows below (all w columns) and those equal to the pixel 16
// columns to the right (the first w - 16 columns); the shares, ratios and the
// reciprocal of the smallest ratio follow with the same double operations as
// ever.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"
#include "tools/scratch.hpp"

namespace lumaqc {


namespace {

// Matches are added up in 8-bit lanes, 64 of them, for at most 255 steps
// before the lanes are emptied into the total.
constexpr uint64_t kLanes = 64;
constexpr uint64_t kMaxSteps = 255;

// Adds to *sameV the number of i < n with a[i] == a[i + offV], and to *sameH
// the number with a[i] == a[i + offH].
LUMAQC_ALWAYS_INLINE void countRepeatsBoth(const uint8_t* a, uint64_t offV, uint64_t offH, uint64_t n,
                                           uint64_t* sameV, uint64_t* sameH) {
    uint64_t i = 0;
    while (n - i >= kLanes) {
        uint64_t steps = (n - i) / kLanes;
        if (steps > kMaxSteps) steps = kMaxSteps;
        uint8_t accV[kLanes] = {};
        uint8_t accH[kLanes] = {};
        for (uint64_t s = 0; s < steps; ++s) {
            const uint8_t* q = a + i + s * kLanes;
            for (uint64_t l = 0; l < kLanes; ++l) {
                accV[l] += q[l] == q[l + offV] ? 1 : 0;
                accH[l] += q[l] == q[l + offH] ? 1 : 0;
            }
        }
        i += steps * kLanes;
        uint32_t v = 0;
        uint32_t h = 0;
        for (uint64_t l = 0; l < kLanes; ++l) {
            v += accV[l];
            h += accH[l];
        }
        *sameV += v;
        *sameH += h;
    }
    for (; i < n; ++i) {
        *sameV += a[i] == a[i + offV] ? 1 : 0;
        *sameH += a[i] == a[i + offH] ? 1 : 0;
    }
}

// Number of i < n with a[i] == a[i + off].
LUMAQC_ALWAYS_INLINE uint64_t countRepeats(const uint8_t* a, uint64_t off, uint64_t n) {
    uint64_t total = 0;
    uint64_t i = 0;
    while (n - i >= kLanes) {
        uint64_t steps = (n - i) / kLanes;
        if (steps > kMaxSteps) steps = kMaxSteps;
        uint8_t acc[kLanes] = {};
        for (uint64_t s = 0; s < steps; ++s) {
            const uint8_t* q = a + i + s * kLanes;
            for (uint64_t l = 0; l < kLanes; ++l) acc[l] += q[l] == q[l + off] ? 1 : 0;
        }
        i += steps * kLanes;
        uint32_t t = 0;
        for (uint64_t l = 0; l < kLanes; ++l) t += acc[l];
        total += t;
    }
    for (; i < n; ++i) total += a[i] == a[i + off] ? 1 : 0;
    return total;
}

// Matches of the 16 pixels at a with the 16 after them.
LUMAQC_ALWAYS_INLINE uint32_t repeatsOf16(const uint8_t* a) {
    uint32_t t = 0;
    for (int l = 0; l < SLICE_BLOCKSIZE; ++l) t += a[l] == a[l + SLICE_BLOCKSIZE] ? 1 : 0;
    return t;
}

// Match counts of the strips 0..strips-1. A strip's 16 rows are contiguous,
// so its pixels are compared as one run of 16w values: with the value 16w
// further (16 rows below) and with the value 16 further, which for the last
// 16 columns of a row is the start of the next row; those 15 x 16 pairs
// within the strip are taken off again (the last row's are not in the run).
LUMAQC_ALWAYS_INLINE void stripCountsBody(const uint8_t* data, uint64_t w, uint64_t strips, uint64_t* vCounts,
                                          uint64_t* hCounts) {
    const uint64_t block = SLICE_BLOCKSIZE;
    const uint64_t span = block * w;
    for (uint64_t k = 0; k < strips; ++k) {
        const uint8_t* p = data + k * span;
        uint64_t v = 0;
        uint64_t h = 0;
        if (w > block) {
            countRepeatsBoth(p, span, block, span - block, &v, &h);
            v += countRepeats(p + span - block, span, block);
            for (uint64_t y = 0; y + 1 < block; ++y) h -= repeatsOf16(p + y * w + w - block);
        } else {
            v = countRepeats(p, span, span);
        }
        vCounts[k] = v;
        hCounts[k] = h;
    }
}
LUMAQC_VARIANTS(void, stripCounts, stripCountsBody,
                (const uint8_t* data, uint64_t w, uint64_t strips, uint64_t* vCounts, uint64_t* hCounts),
                (data, w, strips, vCounts, hCounts))

// The ratios of the strips in the order the sort delivers them, as the sort
// itself gives it: used only when the smallest ratio is a zero that occurs
// with both signs, or the count of ratios does not fit the sort's 32-bit
// count.
double reciprocalOfSorted(double* r, uint64_t n) {
    uint64_t kept = 0;
    for (uint64_t k = 0; k < n; ++k)
        if (!std::isnan(r[k])) r[kept++] = r[k];
    const int32_t count = static_cast<int32_t>(static_cast<uint32_t>(kept));
    if (count > 0) std::qsort(r, static_cast<size_t>(count), sizeof(double), compare_Double_asc);
    return 1.0 / r[0];
}

}  // namespace

void reserveSlice(SliceScratch& scratch, uint64_t w, uint64_t h) {
    (void)w;
    const uint64_t block = SLICE_BLOCKSIZE;
    if (h < 3 * block) return;
    const uint64_t nV = (h - block) / block;
    growScratch(scratch.counts, 2 * nV);
    growScratch(scratch.ratios, nV);
}


double slice(const Image* img, IndicatorState& state) {
    const uint64_t nV = sliceStripCount(img->h);
    if (nV == 0) return -1.0;
    uint64_t* vCounts = growScratch(state.slice.counts, 2 * nV);
    uint64_t* hCounts = vCounts + nV;
    double* r = growScratch(state.slice.ratios, nV);
    stripCounts(state.isa, img->data, img->w, nV, vCounts, hCounts);
    return sliceFromCounts(img->w, img->h, vCounts, hCounts, r);
}

uint64_t sliceStripCount(uint64_t h) {
    const uint64_t block = SLICE_BLOCKSIZE;
    if (h < 3 * block) return 0;
    return (h - block) / block;
}

void sliceStrips(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end, uint64_t* vCounts,
                 uint64_t* hCounts) {
    if (end <= first) return;
    stripCounts(isa, data + first * SLICE_BLOCKSIZE * w, w, end - first, vCounts + first, hCounts + first);
}

double sliceFromCounts(uint64_t w, uint64_t h, const uint64_t* vCounts, const uint64_t* hCounts, double* r) {
    const uint64_t block = SLICE_BLOCKSIZE;
    if (h < 3 * block) return -1.0;

    const uint64_t nV = (h - block) / block;
    // A picture no wider than a strip has no horizontal partners: every
    // horizontal share comes out as 0/0.
    const uint64_t mapW = w > block ? w - block : 0;

    // Counts are 32-bit signed sums; each divisor is 16 times the low 32 bits
    // of the compared width, as a 32-bit signed integer.
    const double divisorV = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(w) << 4));
    const double divisorH = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(mapW) << 4));
    for (uint64_t k = 0; k < nV; ++k) {
        const double shareV = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(vCounts[k]))) / divisorV;
        const double shareH = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(hCounts[k]))) / divisorH;
        r[k] = shareV / shareH;
    }

    // A strip with no pixel equal to either partner has the ratio 0/0: it
    // takes no part in the minimum. The first of the ascending order is a
    // smallest ratio, and all smallest ratios have the same bits unless they
    // are zeros of both signs.
    uint64_t kept = 0;
    double smallest = 0.0;
    bool plusZero = false;
    bool minusZero = false;
    for (uint64_t k = 0; k < nV; ++k) {
        const double v = r[k];
        if (std::isnan(v)) continue;
        if (kept == 0 || v < smallest) smallest = v;
        if (v == 0.0) (std::signbit(v) ? minusZero : plusZero) = true;
        ++kept;
    }
    if (kept == 0) return 1.0 / r[0];  // every ratio is NaN, and so is the result
    if ((smallest == 0.0 && plusZero && minusZero) || kept > static_cast<uint64_t>(INT32_MAX))
        return reciprocalOfSorted(r, nV);
    return 1.0 / smallest;
}

}  // namespace lumaqc
