// The fifteen indicators, one per source file in this directory, named after
// the entry function. Picture indicators look at the current luma picture
// alone; temporalActivity, freezing and flickering compare it with the
// picture before and keep state from frame to frame.
//
// Every indicator takes the per-stream state (the instruction-set variant,
// scratch memory, counters and where messages go), which the library's
// context owns; tests build their own.
#pragma once

#include <cstdint>
#include <vector>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "simd/isa.hpp"
#include "tools/pictures.hpp"
#include "tools/messages.hpp"

namespace lumaqc {

// Scratch memory of the indicators that need some, sized for one picture size.
struct BlockLossScratch {
    std::vector<uint16_t> pairs;
    std::vector<int32_t> vMags, lengths;
    std::vector<uint8_t> flags;
    std::vector<uint32_t> runs;
};
struct BlurScratch {
    std::vector<uint8_t> edge, sign, zeroRow;
    std::vector<uint64_t> bits;
};
struct NoiseScratch {
    std::vector<uint8_t> floorDevs, roundDevs;
    std::vector<uint16_t> colSums;
    std::vector<uint32_t> colSquares;
    std::vector<int32_t> sums, squares;
    std::vector<double> deviations;
    std::vector<uint8_t> container;
    std::vector<double> innerSum, innerSquareSum;
};
struct SliceScratch {
    std::vector<uint64_t> counts;
    std::vector<double> ratios;
};
// Running sums of blockiness in the one-pass analysis.
struct BlockinessSums {
    uint64_t insideH = 0;
    uint64_t acrossH = 0;
    int64_t runInside = 0;
    int64_t runAcross = 0;
    std::vector<uint64_t> lineInside, lineAcross;
};
// Blur in the one-pass analysis: the edges of every step from `low` up,
// counted and measured per step while the bands go by. `low` lies a little
// below the step of the picture before (lastStep, 0 before the first), by
// as much as the step fell lately; a picture whose own step is lower is
// scanned again once its step is known.
constexpr uint32_t BLUR_FALLS_KEPT = 16;
struct BlurBands {
    uint32_t lastStep = 0;
    uint32_t low = 1;
    // How far the step fell (0: rose or stayed) from each of the last
    // BLUR_FALLS_KEPT pictures to the next, and where the next fall goes.
    uint8_t falls[BLUR_FALLS_KEPT] = {};
    uint32_t nextFall = 0;
    bool active = false;
    uint32_t edges[256];
    uint32_t widths[256];
};
struct FlickeringScratch {
    std::vector<uint32_t> sads;
    std::vector<uint16_t> columns;
};

// Everything the indicators of one stream keep from call to call.
struct IndicatorState {
    Isa isa = Isa::Generic;
    MessageSink messages;
    // Consecutive frozen frames so far (freezing).
    int32_t freezingTemp = 0;
    // Position within the current reporting period (flickering).
    int32_t frameCount = 0;
    BlockLossScratch blockLoss;
    BlurScratch blur;
    NoiseScratch noise;
    SliceScratch slice;
    FlickeringScratch flickering;
    BlockinessSums blockinessSums;
    BlurBands blurBands;
    // Rows per band of the one-pass analysis (a multiple of 16); 0: chosen
    // from the width, so that a band stays in the processor's cache.
    uint32_t bandRows = 0;
    // Which values added since 1.0 are not computed (their cost measured
    // apart): LUMAQC_SKIP_* bits of the settings' skip_added_values.
    uint32_t skipAdded = 0;
    // The legal range of below_range and above_range.
    LumaRange range;
    // One block row's sums (block difference outside the one pass).
    std::vector<int32_t> blockSums;
    // Where the one pass writes the rounded 8 x 8 block means of the flash
    // screening (a byte per whole block, row by row); null: not written.
    uint8_t* flashCodes = nullptr;
    // Where the one pass writes, from the second picture on, whether each
    // whole 8 x 8 block differs from the picture before (a byte per block,
    // row by row), for flickering; null: not written.
    uint8_t* flickerChanges = nullptr;
};

// Whether the values of that LUMAQC_SKIP_* group are skipped.
inline bool skipsAdded(const IndicatorState& state, uint32_t group) {
    return (state.skipAdded & (LUMAQC_SKIP_ADDED_ALL | group)) != 0;
}

// The flash screening's state, carried from frame to frame: the block means
// of the last second and one frame, each block's direction of change and the
// frame its monotonic run started from with the block's code then, and per
// frame whether more than the area limit brightened (bit 0) or darkened
// (bit 1) in a transition.
struct FlashState {
    Isa isa = Isa::Generic;
    uint64_t blocks = 0;
    int64_t window = 1;  // frames in one second
    int64_t frame = 0;   // frames stepped so far
    // calm[c]: the brightest code whose change from code c (the darker state)
    // is not a transition's, 255 for none; 32 bits each for vector lookups.
    int32_t calm[256] = {};
    std::vector<uint8_t> codes;  // window + 1 planes of blocks, by frame modulo window + 1
    std::vector<int8_t> direction;  // of the last change: 1 brighter, -1 darker, 0 none yet
    // The run's first frame modulo 2^16: a run older than the window counts
    // from the window's first frame, so runs are moved up to it every 2^15
    // frames and the difference from the frame never wraps.
    std::vector<uint16_t> runStart;
    std::vector<uint8_t> startCode;  // the block's code at the run's first frame
    std::vector<uint8_t> flags;  // window + 1 frames
};
// Sizes and clears the state for pictures of w x h at fps, stepped in the
// isa variant.
void reserveFlashes(FlashState& state, uint64_t w, uint64_t h, double fps, Isa isa);
// The rounded means of n whole 8 x 8 block sums, one code each.
void flashOfferBlocks(const int32_t* sums, uint64_t n, uint8_t* codes);
// The rounded means of all whole 8 x 8 blocks of a picture.
void flashBlockCodes(const Image* img, uint8_t* codes);
// One frame of the screening from its block means: flash_area and
// flashes_per_second.
FlashValues flashes(const uint8_t* codes, FlashState& state);

// Sizes every scratch of state for pictures of w x h, so that no call on
// pictures of that size allocates.
void reserveScratch(IndicatorState& state, uint64_t w, uint64_t h);
void reserveBlockLoss(BlockLossScratch& scratch, uint64_t w, uint64_t h);
void reserveBlur(BlurScratch& scratch, uint64_t w, uint64_t h);
void reserveNoise(NoiseScratch& scratch, uint64_t w, uint64_t h);
void reserveSlice(SliceScratch& scratch, uint64_t w, uint64_t h);
void reserveFlickering(FlickeringScratch& scratch, uint64_t w, uint64_t h);

// Ratio of the steps inside 8 x 8 blocks to the steps across their grid lines.
double blockiness(const Image* img, IndicatorState& state);
double blockToMOS(double blockinessValue);

// Depth of flat bars from the top and bottom edges, as a share of half the height.
double letterbox(const Image* img, IndicatorState& state);
// Depth of identical columns from the left edge, as a share of half the width.
double pillarbox(const Image* img, IndicatorState& state);

// Bars along the edges: rows from the top and the bottom, columns (over the
// rows between those bars) from the left and the right that are dark and
// flat (isBarLine), in pixels; all 0 for a picture that is all bar.
struct BarSizes {
    double top = 0.0;
    double bottom = 0.0;
    double left = 0.0;
    double right = 0.0;
};
BarSizes barSizes(const Image* img, IndicatorState& state);
double barTop(const Image* img, IndicatorState& state);
double barBottom(const Image* img, IndicatorState& state);
double barLeft(const Image* img, IndicatorState& state);
double barRight(const Image* img, IndicatorState& state);

// Share of whole 8 x 8 blocks holding at least 8 combed pixels
// (isCombedPixel) on their even rows, rows 2 to h - 3 tested.
double combing(const Image* img, IndicatorState& state);
// Which field of the picture came first: the difference of each field from
// the opposite field of the picture before, (bottom - top) / (bottom + top),
// from -1 (bottom field first) to 1 (top field first); 0 when both are 0.
double fieldOrder(const Image* cur, const Image* prev, IndicatorState& state);

// RMS of the Sobel gradient magnitude, normalised by all pixels.
double spatialActivity(const Image* img, IndicatorState& state);

// Mean product of horizontal and vertical boundary runs per 256 x 256 region;
// -1.0 below 256 x 256.
double blockLoss(const Image* img, IndicatorState& state);

// Mean edge width in pixels.
double blur(const Image* img, IndicatorState& state);
double blurToMOS(double blurValue);

// Mean value of the four darkest and four brightest 8 x 8 blocks.
double exposure(const Image* img, IndicatorState& state);

// Share of 4 x 4 blocks whose every column zigzags.
double interlace(const Image* img, IndicatorState& state);

// Mean residual deviation of the blocks whose deviation is the most common one.
double noise(const Image* img, IndicatorState& state);

// 1 / min over 16-row strips of (vertical share / horizontal share); -1.0 below 48 rows.
double slice(const Image* img, IndicatorState& state);

// 1 when the 8 x 8 block means spread by less than 4 grey levels.
uint8_t blackout(const Image* img, IndicatorState& state);

// Mean of the brightest whole 8 x 8 block; -1.0 without a whole block.
double brightestBlock(const Image* img, IndicatorState& state);

// Signal levels: the lowest, highest and mean luma code; the 10th and 90th
// percentile of the 8 x 8 block means, rounded to codes (-1.0 without a whole
// block); the fractions of samples below and above the state's range.
double lumaMin(const Image* img, IndicatorState& state);
double lumaLow(const Image* img, IndicatorState& state);
double lumaAvg(const Image* img, IndicatorState& state);
double lumaHigh(const Image* img, IndicatorState& state);
double lumaMax(const Image* img, IndicatorState& state);
double belowRange(const Image* img, IndicatorState& state);
double aboveRange(const Image* img, IndicatorState& state);

// Sample standard deviation of all pixel values.
double contrastRMS(const Image* img, IndicatorState& state);

// Largest change of the mean of a whole 8 x 8 block from the previous
// picture; -1.0 without a whole block.
double blockDifference(const Image* cur, const Image* prev, IndicatorState& state);

// RMS of the pixel-wise difference from the previous picture.
double temporalActivity(const Image* cur, const Image* prev, IndicatorState& state);

// 1 once a tenth of a second of frozen, non-black frames has passed. One call
// per analysed frame from the second on.
uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps, IndicatorState& state);

// Switch rate of the 3 % most-switching 8 x 8 blocks, reported on every 8th
// call, -1.0 on the others. counts and states are the stream's accumulators.
double flickering(const Image* cur, const Image* prev, Image* counts, Image* states, IndicatorState& state);
// The same call from the one pass's block changes (see IndicatorState::flickerChanges).
double flickeringFromChanges(const uint8_t* changes, Image* counts, Image* states, IndicatorState& state);

}  // namespace lumaqc
