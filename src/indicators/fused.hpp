// The one-pass analysis of a picture: the picture indicators and temporal
// activity, and the values added since 1.0 that are IN_PASS, in one walk over bands of rows, each band read from
// memory once and every indicator's work on it done while it is in the cache.
#pragma once

#include <cstdint>

#include "indicators/indicators.hpp"
#include "lumaqc/lumaqc.h"

namespace lumaqc {

// A cheap, steadily rising count (processor cycles on x86, nanoseconds of a
// monotonic clock elsewhere), used only for proportions.
uint64_t cycleCount();

// Rows per band for pictures w wide: a multiple of 16 (the tallest grid of
// the indicators), about 128 KiB of picture, between 16 and 256 rows.
uint32_t bandRowsFor(uint64_t w);

// Fills the picture values of r (and temporal_activity when prev is not
// null) with the same bits as the per-indicator entry points. cycles (when
// not null) receives, per lumaqc_indicator, the cycle counts of that
// indicator's parts of the pass; its entries are overwritten.
void analysePicture(const Image* cur, const Image* prev, IndicatorState& state, lumaqc_result& r, uint64_t* cycles);

}  // namespace lumaqc
