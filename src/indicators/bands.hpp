// The parts of the fast indicators that the one-pass analysis of a picture
// (fused.cpp) runs band of rows by band of rows, and the final steps that
// turn their exact integer sums into the indicator values. The per-indicator
// entry points of indicators.hpp use the same final steps, so both paths
// convert and combine their doubles in the same order.
#pragma once

#include <cstdint>
#include <vector>

#include "indicators/indicators.hpp"

namespace lumaqc {

// Contrast: adds the sum and square sum of the n pixels at p.
void contrastSums(Isa isa, const uint8_t* p, uint64_t n, uint64_t* sum, uint64_t* squareSum);
// Adds the n block sums and square sums (those noise forms of whole 8 x 8 blocks).
void contrastBlockSums(const int32_t* sums, const int32_t* squares, uint64_t n, uint64_t* sum, uint64_t* squareSum);
double contrastFromSums(uint64_t w, uint64_t h, uint64_t sum, uint64_t squareSum);

// Temporal activity: sum of (cur - prev)^2 over n positions, wrapping in 64 bits.
uint64_t squaredDifferences(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t n);
double temporalFromSum(uint64_t w, uint64_t h, uint64_t squares);
// The same sum over the rows [y0, y1) (y0 a multiple of 8) of pictures w
// wide, and for every whole 8 x 8 block of the block rows inside them
// whether any pixel differs: changes[by * (w / 8) + bx] = 1, else 0
// (flickering's block states follow from these alone). With largest not
// null, also raises *largest to the largest |block sum of cur - block sum of
// prev| over those blocks (block difference's change, from the same reads).
uint64_t temporalBlockRows(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t y0, uint64_t y1,
                           uint8_t* changes, int32_t* largest);

// Block difference: the largest |sums[j] - the sum of block j of block row by
// of prev| over the blockCols whole 8 x 8 blocks of that row (sums: the
// picture's own block sums of the row), and the value from the largest one.
int32_t largestBlockSumChange(Isa isa, const uint8_t* prev, uint64_t w, uint64_t by, const int32_t* sums,
                              uint64_t blockCols);
double blockDifferenceFromSums(uint64_t blocks, int32_t largestChange);

// Interlace: combed 4 x 4 blocks of the block rows [first, end).
uint64_t combedBlockRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end);
double interlaceFromCount(uint64_t w, uint64_t h, uint64_t combed);

// Combing: combed 8 x 8 blocks of the block rows [first, end) (each reads
// two rows above and below its own).
uint64_t combedBlockRowsOf(Isa isa, const uint8_t* data, uint64_t w, uint64_t h, uint64_t first, uint64_t end);
double combingFromCount(uint64_t w, uint64_t h, uint64_t combed);

// Field order: the distances of the rows [first, end) with y % 4 of 1 or 2
// from the other field of the picture before, even rows to sums[0], odd rows
// to sums[1] (rows 0 and h - 1 are left out).
void fieldDistanceRows(Isa isa, const uint8_t* cur, const uint8_t* prev, uint64_t w, uint64_t h, uint64_t first,
                       uint64_t end, uint64_t* sums);
double fieldOrderFromSums(const uint64_t* sums);

// Slice: match counts of the strips [first, end); strip k reads rows 16k ... 16k + 31.
void sliceStrips(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end, uint64_t* vCounts,
                 uint64_t* hCounts);
// Number of strips, 0 below 48 rows.
uint64_t sliceStripCount(uint64_t h);
double sliceFromCounts(uint64_t w, uint64_t h, const uint64_t* vCounts, const uint64_t* hCounts, double* ratios);

// Blockiness: the horizontal grid lines at rows k in [rowFirst, rowEnd) and
// the vertical grid lines over the rows [rowFirst, rowEnd).
void blockinessStart(BlockinessSums& sums, uint64_t w);
void blockinessRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t h, uint64_t rowFirst, uint64_t rowEnd,
                    BlockinessSums& sums);
double blockinessFinish(uint64_t w, BlockinessSums& sums);

// Exposure: the nBlSum smallest and largest block sums offered so far.
struct ExposureLists {
    int32_t smallest[nBlSum];
    int32_t largest[nBlSum];
};
void exposureStart(ExposureLists& lists);
void exposureOffer(ExposureLists& lists, const int32_t* sums, uint64_t n);
double exposureFromLists(const ExposureLists& lists);

// Brightest block from the largest of all whole 8 x 8 block sums (blocks: their number).
double brightestFromSum(uint64_t blocks, int32_t largestSum);

// Signal levels: the lowest and highest code and the samples below and above
// the range of n samples, added to counts; the rounded means of n whole
// 8 x 8 block sums added to a 256-code histogram; the code that percent % of
// blocks reach (-1.0 without blocks); a count or sum of all w x h samples
// as a fraction or mean.
struct LevelCounts {
    uint8_t min = 255;
    uint8_t max = 0;
    uint64_t below = 0;
    uint64_t above = 0;
};
void levelCountRows(Isa isa, const uint8_t* p, uint64_t n, LumaRange range, LevelCounts& counts);
// The tables of block means levelOfferBlocks fills: histogram holds LEVEL_TABLES * 256 counts.
constexpr uint64_t LEVEL_TABLES = 4;
void levelOfferBlocks(const int32_t* sums, uint64_t n, uint32_t* histogram);
double levelPercentile(const uint32_t* histogram, uint64_t blocks, uint32_t percent);
double levelFraction(uint64_t w, uint64_t h, uint64_t count);
double levelMean(uint64_t w, uint64_t h, uint64_t sum);

// Blackout from the spread of all whole 8 x 8 block sums (blocks: their number).
uint8_t blackoutFromSpread(uint64_t blocks, int32_t spread);

// Noise: the deviations of block row t (C = w / 8 blocks), added to the
// histogram; returns the row's block sums (C of them, valid until the next call).
// The counts are kept in four copies (block i of a row counts in copy i % 4),
// so that blocks of one bin in a row do not wait on each other, and with
// them the number of the last block counted in each bin: the mode, the bin
// that first reached the highest count, is the one of those bins whose last
// block came first.
struct NoiseHistogram {
    uint32_t bins[4][HISTOGRAM_ENTRIES] = {};
    uint64_t last[HISTOGRAM_ENTRIES] = {};
    uint64_t blocks = 0;
};
const int32_t* noiseBlockRow(Isa isa, const Image* img, uint64_t t, NoiseScratch& scratch, NoiseHistogram& histogram);
double noiseFinish(const Image* img, IndicatorState& state, const NoiseHistogram& histogram);

// Spatial activity: Sobel energy of the interior rows [first, end), 1 <= first, end <= h - 1.
uint64_t sobelEnergyRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end);
double spatialFromEnergy(uint64_t w, uint64_t h, uint64_t energy);

// Block loss: windows of the rows [first, end) (first >= 1); fills the
// vertical boundary magnitudes of those rows below the region grid.
// Call only when w and h are at least 256, after blockLossStart.
void blockLossStart(const Image* img, BlockLossScratch& scratch);
uint64_t blockLossRows(Isa isa, const Image* img, uint64_t first, uint64_t end, BlockLossScratch& scratch);
double blockLossFinish(Isa isa, const Image* img, uint64_t sum, BlockLossScratch& scratch);

// Blur: sum of the squared horizontal steps of the rows [first, end), first >= 1;
// then the scan with the threshold that sum sets (the second pass).
uint64_t blurStepRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t first, uint64_t end);
double blurFinish(const Image* img, IndicatorState& state, uint64_t sum);
// The edges of the rows [first, end) measured while the bands go by (see
// BlurBands), and the value from them or from a scan of its own.
// blurBandRows returns the same sum as blurStepRows over its rows, taken
// from the edge marks where they hold it.
void blurBandsStart(uint64_t w, uint64_t h, IndicatorState& state);
uint64_t blurBandRows(Isa isa, const uint8_t* data, uint64_t w, uint64_t h, uint64_t first, uint64_t end,
                      IndicatorState& state);
double blurBandsFinish(const Image* img, IndicatorState& state, uint64_t sum);

}  // namespace lumaqc
