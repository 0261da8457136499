#include "indicators/indicators.hpp"

namespace lumaqc {

void reserveScratch(IndicatorState& state, uint64_t w, uint64_t h) {
    reserveBlockLoss(state.blockLoss, w, h);
    reserveBlur(state.blur, w, h);
    reserveNoise(state.noise, w, h);
    reserveSlice(state.slice, w, h);
    reserveFlickering(state.flickering, w, h);
}

IndicatorState& defaultIndicatorState() {
    static IndicatorState state = [] {
        IndicatorState s;
        s.messages = standardOutputSink();
        return s;
    }();
    // Tests switch the variant of the plain entry points with forceIsa.
    state.isa = selectedIsa();
    return state;
}

}  // namespace lumaqc
