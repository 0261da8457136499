// The one-pass analysis: one walk down the picture in bands of rows. Each
// band is read from memory once and every indicator does its part of the
// work on it while it is in the cache: the differences from the previous
// picture (and the 8 x 8 blocks that changed, for flickering, with the
// largest change of a block sum for block difference), the combed 4 x 4
// blocks, the 8 x 8 block sums, square sums and deviations (shared by noise,
// contrast's pixel sums, exposure, blackout, the signal levels and the flash
// screening's block means), the samples outside the legal range, the
// blockiness grid lines, the slice strips, the Sobel energy, the Roberts
// windows of block loss and the squared steps that set the blur threshold.
//
// Neighbourhoods reach across band borders: a band of rows [y0, y1) also
// reads row y1 (Sobel), rows y0 - 2 and y0 - 1 (blockiness lines, Roberts
// windows, block-loss boundary pairs), and a slice strip is counted in the
// band that holds the last row of the strip below it. Bands are a multiple of
// 16 rows, so no 4-, 8- or 16-row block straddles a band border.
//
// What needs a whole-picture quantity first comes after the walk, in the
// order of the per-indicator path. Blur measures in the bands every edge
// whose step reaches a little below the last picture's threshold step, per
// step, and keeps those at or above this picture's step once it is known;
// only when that step is lower (the first picture, a change of scene) is the
// picture scanned a second time. Then block loss's runs along the
// region grid rows and down its small table of boundary magnitudes, the
// noise blocks gathered by the mode of the deviations, the slice minimum, the
// exposure lists. Letterbox, pillarbox and the bar sizes stop at the first
// detail, before the walk; the combed 8 x 8 blocks and the field distances
// from the picture before go band by band. Every integer sum is exact, so its
// order does not matter; each value is then formed by the same final step as
// on the per-indicator path.
#include "indicators/fused.hpp"

#include <chrono>
#include <cstring>

#include "indicators/bands.hpp"
#include "tools/scratch.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace lumaqc {

uint64_t cycleCount() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
#endif
}

uint32_t bandRowsFor(uint64_t w) {
    constexpr uint64_t kBandBytes = 128 * 1024;
    const uint64_t rows = w == 0 ? 256 : kBandBytes / w / 16 * 16;
    return static_cast<uint32_t>(rows < 16 ? 16 : (rows > 256 ? 256 : rows));
}

void analysePicture(const Image* cur, const Image* prev, IndicatorState& state, lumaqc_result& r, uint64_t* cycles) {
    uint64_t local[LUMAQC_INDICATOR_COUNT];
    uint64_t* c = cycles != nullptr ? cycles : local;
    for (int i = 0; i < LUMAQC_INDICATOR_COUNT; ++i) c[i] = 0;
    uint64_t t = cycleCount();
    auto mark = [&](lumaqc_indicator which) {
        const uint64_t now = cycleCount();
        c[which] += now - t;
        t = now;
    };

    const uint64_t w = cur->w;
    const uint64_t h = cur->h;
    const uint8_t* data = cur->data;
    const Isa isa = state.isa;

    // Stop at the first detail, near the edges.
    r.letterbox = letterbox(cur, state);
    mark(LUMAQC_LETTERBOX);
    r.pillarbox = pillarbox(cur, state);
    mark(LUMAQC_PILLARBOX);
    const bool events = !skipsAdded(state, LUMAQC_SKIP_EVENT_VALUES);
    const bool levelled = !skipsAdded(state, LUMAQC_SKIP_LEVEL_VALUES);
    if (events) {
        const BarSizes bars = barSizes(cur, state);
        r.bar_top = bars.top;
        r.bar_bottom = bars.bottom;
        r.bar_left = bars.left;
        r.bar_right = bars.right;
        mark(LUMAQC_BAR_TOP);
    }

    // Contrast sums every pixel when their count fits its signed 32-bit count.
    const int32_t contrastCount = static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(h));
    const bool contrastInBands = contrastCount > 0 && static_cast<uint64_t>(contrastCount) == w * h;
    uint64_t pixelSum = 0, pixelSquares = 0;
    uint64_t differences = 0;
    int32_t largestChange = 0;
    LevelCounts levels;
    uint32_t blockMeans[LEVEL_TABLES * 256] = {};
    uint64_t combed = 0;
    uint64_t combedBlocks = 0;
    uint64_t fieldDistances[2] = {0, 0};
    // Whole 8 x 8 blocks: noise and blackout take all of them, exposure
    // those with a pixel right of and below them.
    const uint64_t blockCols = w / BLOCKSIZE;
    const uint64_t blockRows = h / BLOCKSIZE;
    const uint64_t exposureCols = w >= BLOCKSIZE ? (w - 1) / BLOCKSIZE : 0;
    const uint64_t exposureRows = h >= BLOCKSIZE ? (h - 1) / BLOCKSIZE : 0;
    NoiseHistogram histogram;
    ExposureLists lists;
    exposureStart(lists);
    int32_t blockLo = 0x7fffffff, blockHi = -1;
    blockinessStart(state.blockinessSums, w);
    const uint64_t strips = sliceStripCount(h);
    uint64_t* vCounts = strips != 0 ? growScratch(state.slice.counts, 2 * strips) : nullptr;
    uint64_t stripsDone = 0;
    uint64_t sobel = 0;
    const bool blockLossRuns = w >= BLOCKLOSS_REGION && h >= BLOCKLOSS_REGION;
    if (blockLossRuns) blockLossStart(cur, state.blockLoss);
    uint64_t windows = 0;
    uint64_t steps = 0;
    blurBandsStart(w, h, state);
    mark(LUMAQC_CONTRAST);

    uint64_t band = state.bandRows != 0 ? (state.bandRows + 15) / 16 * 16 : bandRowsFor(w);
    for (uint64_t y0 = 0; y0 < h; y0 += band) {
        const uint64_t y1 = h - y0 < band ? h : y0 + band;
        const uint8_t* rows = data + y0 * w;
        const uint64_t n = (y1 - y0) * w;
        if (contrastInBands) {
            if (blockCols == 0) {
                contrastSums(isa, rows, n, &pixelSum, &pixelSquares);
            } else {
                // The whole 8 x 8 blocks add the sums and square sums noise forms of
                // them (below); here the columns right of them and the rows below them.
                const uint64_t blockEnd = blockRows * BLOCKSIZE;
                const uint64_t covered = y1 < blockEnd ? y1 : blockEnd;
                const uint64_t right = w - blockCols * BLOCKSIZE;
                for (uint64_t y = y0; right != 0 && y < covered; ++y)
                    contrastSums(isa, data + y * w + blockCols * BLOCKSIZE, right, &pixelSum, &pixelSquares);
                if (y1 > blockEnd) {
                    const uint64_t from = y0 > blockEnd ? y0 : blockEnd;
                    contrastSums(isa, data + from * w, (y1 - from) * w, &pixelSum, &pixelSquares);
                }
            }
        }
        mark(LUMAQC_CONTRAST);
        if (levelled) {
            levelCountRows(isa, rows, n, state.range, levels);
            mark(LUMAQC_BELOW_RANGE);
        }
        if (prev != nullptr) {
            // With the changed blocks, the block sums' largest change comes from the same reads.
            differences += state.flickerChanges != nullptr
                               ? temporalBlockRows(isa, data, prev->data, w, y0, y1, state.flickerChanges,
                                                   events ? &largestChange : nullptr)
                               : squaredDifferences(isa, rows, prev->data + y0 * w, n);
            mark(LUMAQC_TEMPORAL_ACTIVITY);
        }
        combed += combedBlockRows(isa, data, w, y0 / INTERLACE_BLOCKSIZE, y1 / INTERLACE_BLOCKSIZE);
        mark(LUMAQC_INTERLACE);
        if (events) {
            // Blocks of 8 rows never straddle a band; each reads two rows beyond it on either side.
            combedBlocks += combedBlockRowsOf(isa, data, w, h, y0 / COMB_BLOCKSIZE, y1 / COMB_BLOCKSIZE);
            mark(LUMAQC_COMBING);
            if (prev != nullptr) {
                fieldDistanceRows(isa, data, prev->data, w, h, y0, y1, fieldDistances);
                mark(LUMAQC_FIELD_ORDER);
            }
        }
        for (uint64_t by = y0 / BLOCKSIZE; blockCols != 0 && by < y1 / BLOCKSIZE; ++by) {
            const int32_t* sums = noiseBlockRow(isa, cur, by, state.noise, histogram);
            mark(LUMAQC_NOISE);
            if (contrastInBands) contrastBlockSums(sums, state.noise.squares.data(), blockCols, &pixelSum, &pixelSquares);
            mark(LUMAQC_CONTRAST);
            if (by < exposureRows) exposureOffer(lists, sums, exposureCols);
            mark(LUMAQC_EXPOSURE);
            for (uint64_t j = 0; j < blockCols; ++j) {
                blockLo = sums[j] < blockLo ? sums[j] : blockLo;
                blockHi = sums[j] > blockHi ? sums[j] : blockHi;
            }
            mark(LUMAQC_BLACKOUT);
            if (levelled) {
                levelOfferBlocks(sums, blockCols, blockMeans);
                mark(LUMAQC_LUMA_LOW);
            }
            if (state.flashCodes != nullptr) {
                flashOfferBlocks(sums, blockCols, state.flashCodes + by * blockCols);
                mark(LUMAQC_FLASH_AREA);
            }
            if (prev != nullptr && events && state.flickerChanges == nullptr) {
                const int32_t change = largestBlockSumChange(isa, prev->data, w, by, sums, blockCols);
                largestChange = change > largestChange ? change : largestChange;
                mark(LUMAQC_BLOCK_DIFFERENCE);
            }
        }
        blockinessRows(isa, data, w, h, y0, y1, state.blockinessSums);
        mark(LUMAQC_BLOCKINESS);
        if (strips != 0) {
            // Strip k reads rows 16k ... 16k + 31.
            const uint64_t ready = y1 >= 2 * SLICE_BLOCKSIZE ? (y1 - 2 * SLICE_BLOCKSIZE) / SLICE_BLOCKSIZE + 1 : 0;
            const uint64_t end = ready < strips ? ready : strips;
            if (end > stripsDone) {
                sliceStrips(isa, data, w, stripsDone, end, vCounts, vCounts + strips);
                stripsDone = end;
            }
            mark(LUMAQC_SLICE);
        }
        const uint64_t first = y0 == 0 ? 1 : y0;
        if (h >= 3) {
            sobel += sobelEnergyRows(isa, data, w, first, y1 < h - 1 ? y1 : h - 1);
            mark(LUMAQC_SPATIAL_ACTIVITY);
        }
        if (blockLossRuns) {
            windows += blockLossRows(isa, cur, first, y1, state.blockLoss);
            mark(LUMAQC_BLOCK_LOSS);
        }
        if (h >= 3 && w >= 3) {
            steps += blurBandRows(isa, data, w, h, first, y1, state);
            mark(LUMAQC_BLUR);
        }
    }

    r.contrast = contrastInBands ? contrastFromSums(w, h, pixelSum, pixelSquares) : contrastRMS(cur, state);
    mark(LUMAQC_CONTRAST);
    if (prev != nullptr) {
        r.temporal_activity = temporalFromSum(w, h, differences);
        mark(LUMAQC_TEMPORAL_ACTIVITY);
        if (events) {
            r.block_difference = blockDifferenceFromSums(blockCols * blockRows, largestChange);
            mark(LUMAQC_BLOCK_DIFFERENCE);
        }
    }
    r.interlace = interlaceFromCount(w, h, combed);
    mark(LUMAQC_INTERLACE);
    if (events) {
        r.combing = combingFromCount(w, h, combedBlocks);
        mark(LUMAQC_COMBING);
        if (prev != nullptr) {
            r.field_order = fieldOrderFromSums(fieldDistances);
            mark(LUMAQC_FIELD_ORDER);
        }
    }
    r.exposure = exposureFromLists(lists);
    mark(LUMAQC_EXPOSURE);
    r.blackout = blackoutFromSpread(blockCols * blockRows, blockHi - blockLo);
    mark(LUMAQC_BLACKOUT);
    if (events) {
        r.brightest_block = brightestFromSum(blockCols * blockRows, blockHi);
        mark(LUMAQC_BRIGHTEST_BLOCK);
    }
    if (levelled) {
        r.luma_min = levels.min;
        r.luma_max = levels.max;
        r.below_range = levelFraction(w, h, levels.below);
        r.above_range = levelFraction(w, h, levels.above);
        mark(LUMAQC_BELOW_RANGE);
        r.luma_low = levelPercentile(blockMeans, blockCols * blockRows, LEVEL_LOW_PERCENT);
        r.luma_high = levelPercentile(blockMeans, blockCols * blockRows, LEVEL_HIGH_PERCENT);
        mark(LUMAQC_LUMA_LOW);
        r.luma_avg = contrastInBands ? levelMean(w, h, pixelSum) : lumaAvg(cur, state);
        mark(LUMAQC_LUMA_AVG);
    }
    r.noise = noiseFinish(cur, state, histogram);
    mark(LUMAQC_NOISE);
    r.blockiness = blockinessFinish(w, state.blockinessSums);
    mark(LUMAQC_BLOCKINESS);
    r.slice = strips != 0 ? sliceFromCounts(w, h, vCounts, vCounts + strips, growScratch(state.slice.ratios, strips))
                          : -1.0;
    mark(LUMAQC_SLICE);
    r.spatial_activity = spatialFromEnergy(w, h, sobel);
    mark(LUMAQC_SPATIAL_ACTIVITY);
    r.block_loss = blockLossRuns ? blockLossFinish(isa, cur, windows, state.blockLoss) : -1.0;
    mark(LUMAQC_BLOCK_LOSS);
    r.blur = blurBandsFinish(cur, state, steps);
    mark(LUMAQC_BLUR);
}

}  // namespace lumaqc
