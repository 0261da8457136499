// The fifteen indicators, one per source file in this directory, named after
// the entry function. Picture indicators look at the current luma picture
// alone; temporalActivity, freezing and flickering compare it with the
// picture before and keep state from frame to frame.
#pragma once

#include <cstdint>

#include "tools/definitions.hpp"

// Frame rate assumed when none is given on the command line.
inline constexpr int DEFAULT_FPS = 25;
// Side of the codec block grid shared by several indicators.
inline constexpr int BLOCKSIZE = 8;

// Ratio of the steps inside 8 x 8 blocks to the steps across their grid lines.
double blockiness(const Image* img);
double blockToMOS(double blockinessValue);

// Depth of flat bars from the top and bottom edges, as a share of half the height.
double letterbox(const Image* img);
// Depth of identical columns from the left edge, as a share of half the width.
double pillarbox(const Image* img);
int checkLetterBar(const uint8_t* data, uint32_t w, uint32_t h, uint32_t i);
int checkPillarBar(const uint8_t* data, uint32_t w, uint32_t h, uint32_t i);

// RMS of the Sobel gradient magnitude, normalised by all pixels.
double spatialActivity(const Image* img);

// Mean product of horizontal and vertical boundary runs per 256 x 256 region;
// -1.0 below 256 x 256.
double blockLoss(const Image* img);

// Mean edge width in pixels.
double blur(const Image* img);
double blurToMOS(double blurValue);

// Mean value of the four darkest and four brightest 8 x 8 blocks.
double exposure(const Image* img);

// Share of 4 x 4 blocks whose every column zigzags.
double interlace(const Image* img);

// Mean residual deviation of the blocks whose deviation is the most common one.
double noise(const Image* img);
int compare(const void* a, const void* b);

// 1 / min over 16-row strips of (vertical share / horizontal share); -1.0 below 48 rows.
double slice(const Image* img);
int compare_Double_asc(const void* a, const void* b);

// 1 when the 8 x 8 block means spread by less than 4 grey levels.
uint8_t blackout(const Image* img);
void minmax(const int32_t* values, uint64_t size, int32_t* min, int32_t* max);

// Sample standard deviation of all pixel values.
double contrastRMS(const Image* img);

// RMS of the pixel-wise difference from the previous picture.
double temporalActivity(const Image* cur, const Image* prev);

// 1 once a tenth of a second of frozen, non-black frames has passed.
// Keeps a process-wide count; one call per analysed frame from the second on.
uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps);

// Switch rate of the 3 % most-switching 8 x 8 blocks, reported on every 8th
// call, -1.0 on the others. counts and states are the driver's accumulators.
double flickering(const Image* cur, const Image* prev, Image* counts, Image* states);
int compareElements(const void* a, const void* b);
