// The library's side of the table of values (lumaqc/values.h): the
// description every output reads, and how the context calls each indicator.
#pragma once

#include <array>
#include <cstddef>

#include "indicators/indicators.hpp"
#include "lumaqc/lumaqc.h"

namespace lumaqc {

inline constexpr size_t kValueCount = LUMAQC_INDICATOR_COUNT;
// The values of version 1.0 come first, as indicators 0 .. kValueCount1_0 - 1.
inline constexpr int kValueCount1_0 = 0 LUMAQC_VALUES_1_0(LUMAQC_PLUS_ONE);

// In column order: index i describes column i + 1.
extern const std::array<lumaqc_value_info, kValueCount> kValueInfos;

// What an indicator looks at: the picture, the picture and the one before
// (from the second frame on), or state carried through the frames in order.
enum class Stage { Picture, Pair, Sequence };

// Computes one value of the picture cur (prev: the picture before, or null)
// into its field of r.
using ValueCall = void (*)(const Image* cur, const Image* prev, IndicatorState& state, lumaqc_result& r);

struct ValueEntry {
    lumaqc_indicator indicator;
    Stage stage;
    bool inPass;        // computed by the one-pass analysis
    uint32_t added;     // added since 1.0: its LUMAQC_SKIP_* group (0 for the values of 1.0)
    ValueCall fast;     // null for Sequence: the context calls those itself
    ValueCall literal;
};

// In the order the indicators are called (their lumaqc_indicator numbers).
extern const std::array<ValueEntry, kValueCount> kValueEntries;

// The fields of the values added since 1.0 as when they are skipped:
// not-a-number (flags 0).
void markAddedValuesSkipped(lumaqc_result& r, uint32_t skip);

// The LUMAQC_SKIP_* group of a value: 0 for those of 1.0, the events' and the
// levels' and the flash screening's own groups, LUMAQC_SKIP_ADDED_ALL for any value added after them.
constexpr uint32_t addedGroupOf(int indicator) {
    if (indicator < kValueCount1_0) return 0;
    if (indicator < static_cast<int>(LUMAQC_LUMA_MIN)) return LUMAQC_SKIP_EVENT_VALUES;
    if (indicator <= static_cast<int>(LUMAQC_ABOVE_RANGE)) return LUMAQC_SKIP_LEVEL_VALUES;
    if (indicator <= static_cast<int>(LUMAQC_FLASHES_PER_SECOND)) return LUMAQC_SKIP_FLASH_VALUES;
    return LUMAQC_SKIP_ADDED_ALL;
}

// Whether a value of that group is skipped with the settings' skip_added_values.
constexpr bool addedValueSkipped(uint32_t group, uint32_t skip) {
    return group != 0 && (skip & (LUMAQC_SKIP_ADDED_ALL | group)) != 0;
}

}  // namespace lumaqc
