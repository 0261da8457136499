// The named constants of the indicators, shared by the fast indicators and
// their literal reference compositions.
#pragma once

#include <cstdint>

#include "lumaqc/lumaqc.h"

namespace lumaqc {

// Frame rate assumed when none is given.
inline constexpr int DEFAULT_FPS = 25;
// Side of the codec block grid shared by several indicators.
inline constexpr int BLOCKSIZE = 8;

// Blackout: largest spread of the 8 x 8 block means of a flat picture.
inline constexpr double THRESHOLD_BLACKOUT = 4.0;

// Block loss: region side, boundary grid, shortest run, threshold factor.
inline constexpr uint32_t BLOCKLOSS_REGION = 256;
inline constexpr int32_t BLOCKLOSS_GRID = 16;
inline constexpr int32_t BLOCKLOSS_MIN_RUN = 12;
inline constexpr double BLOCKLOSS_THRESHOLD_FACTOR = 6.0;

// Blur: side of the blocks whose deviations set the edge threshold.
inline constexpr int BLUR_BLOCKSIZE = 16;

// Exposure: darkest and brightest blocks averaged, and the ranking table size.
inline constexpr int nBlSum = 4;
inline constexpr int TABSIZE = 10000;

// Interlace: side of the blocks tested for combing.
inline constexpr int INTERLACE_BLOCKSIZE = 4;

// Bars: a line (row or column) at the picture's edge belongs to a bar when
// its mean is at most BAR_LIMIT (the dark level of limited and full range
// both) and the root mean square deviation of its pixels from that mean is
// at most BAR_DEVIATION, so that coding noise leaves a bar a bar.
inline constexpr uint32_t BAR_LIMIT = 24;
inline constexpr uint32_t BAR_DEVIATION = 3;

// Combing: a pixel is combed when both its neighbours in the other field lie
// more than COMB_DIFFERENCE on the same side of it while its neighbours in
// its own field lie less than half as far; a COMB_BLOCKSIZE square block is
// combed when at least COMB_PIXELS pixels of its even rows are (the odd rows
// comb as the even ones do: testing half the rows halves the cost).
inline constexpr int COMB_DIFFERENCE = 10;
inline constexpr int COMB_BLOCKSIZE = 8;
inline constexpr int COMB_PIXELS = 8;

// Noise: deviation histogram, smoothing kernel side, blocks gathered at most.
inline constexpr int HISTOGRAM_ENTRIES = 128;
inline constexpr int GAUSSIAN_MASK_SIZE = 3;
inline constexpr int MAX_CONTAINER_WIDTH = 1000;

// Slice: height of the strips and distance of the compared pixels.
inline constexpr int SLICE_BLOCKSIZE = 16;

// Flickering: calls per reporting period, the mean absolute difference from
// which a block counts as changing, the share of most-switching blocks averaged.
inline constexpr int framePeriod = LUMAQC_FLICKERING_PERIOD;
inline constexpr double FLICKER_THRESHOLD = 0.0111;
inline constexpr double FLICKER_SELECTED_SHARE = 0.03;

// Signal levels: the legal range of luma codes (inclusive), and the
// percentiles of the 8 x 8 block means that give the typical dark and bright.
struct LumaRange {
    uint8_t low = LUMAQC_RANGE_LOW;
    uint8_t high = LUMAQC_RANGE_HIGH;
};
inline constexpr uint32_t LEVEL_LOW_PERCENT = 10;
inline constexpr uint32_t LEVEL_HIGH_PERCENT = 90;

// Flash screening: the luma codes of the display's black and peak, and its
// exponent (BT.1886 with a black of 0 cd/m2); the values of one frame.
inline constexpr int FLASH_BLACK_CODE = 16;
inline constexpr int FLASH_PEAK_CODE = 235;
inline constexpr double FLASH_GAMMA = 2.4;
struct FlashValues {
    double area = -1.0;  // flash_area
    double rate = 0.0;   // flashes_per_second
};

}  // namespace lumaqc
