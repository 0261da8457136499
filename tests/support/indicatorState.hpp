// A fresh indicator state for tests: the given variant, messages on standard output.
#pragma once

#include "indicators/indicators.hpp"
#include "simd/isa.hpp"
#include "support/toolkit.hpp"

namespace lumaqc {

inline IndicatorState stateFor(Isa isa) {
    IndicatorState state;
    state.isa = isa;
    state.messages = standardOutputSink();
    return state;
}

}  // namespace lumaqc
