// The small steps both the fast indicators and their literal reference
// compositions call.
#pragma once

#include <cstdint>

namespace lumaqc {

// Whether row i from the top (and from the bottom) is flat enough for a letterbox bar.
int checkLetterBar(const uint8_t* data, uint32_t w, uint32_t h, uint32_t i);
// Whether column i from the left matches its partner for a pillarbox bar.
int checkPillarBar(const uint8_t* data, uint32_t w, uint32_t h, uint32_t i);
// Whether a line of n pixels whose values add up to sum and whose squares
// add up to squareSum is dark and flat enough to belong to a bar.
bool isBarLine(uint64_t n, uint64_t sum, uint64_t squareSum);
// Whether the pixel b, between a (above) and c (below) of the other field
// and u (two rows up) and d (two rows down) of its own, is combed.
bool isCombedPixel(int u, int a, int b, int c, int d);
// Orderings for qsort: doubles ascending (noise, slice), bytes descending (flickering).
int compare(const void* a, const void* b);
int compare_Double_asc(const void* a, const void* b);
int compareElements(const void* a, const void* b);
// One frame of freezing: counts the consecutive frozen frames in freezingTemp
// and returns 1 once they last a tenth of a second.
uint8_t countFrozenFrames(uint8_t blackoutFlag, double temporalActivityValue, double fps, int32_t& freezingTemp);
// Screen luminance in cd/m2 of a luma code on the flash screening's display
// (BT.1886, peak LUMAQC_FLASH_PEAK at code 235, black 0 at code 16; codes
// outside clamp).
double screenLuminance(int code);
// Whether a change between two screen luminances is a flash transition's:
// at least LUMAQC_FLASH_STEP apart, the darker below LUMAQC_FLASH_DARK.
bool isFlashChange(double a, double b);

}  // namespace lumaqc
