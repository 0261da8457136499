#include "indicators/indicators.hpp"

namespace lumaqc {

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps) {
    return freezing(blackoutFlag, temporalActivityValue, fps, defaultIndicatorState());
}

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps, IndicatorState& state) {
    // Consecutive frozen frames so far in this stream.
    int32_t& freezingTemp = state.freezingTemp;

    // Only an exact standstill counts; a black still picture is the blackout
    // indicator's business, not a freeze.
    const bool frozen = temporalActivityValue == 0.0 && blackoutFlag == 0;
    if (frozen) {
        freezingTemp = static_cast<int32_t>(static_cast<uint32_t>(freezingTemp) + 1u);
    } else {
        freezingTemp = 0;
    }
    // A tenth of a second of frozen video raises the flag.
    return static_cast<double>(freezingTemp) >= fps * 0.1 ? 1 : 0;
}

}  // namespace lumaqc
