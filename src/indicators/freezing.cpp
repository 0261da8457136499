#include "indicators/indicators.hpp"

namespace lumaqc {

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps, IndicatorState& state) {
    return countFrozenFrames(blackoutFlag, temporalActivityValue, fps, state.freezingTemp);
}

}  // namespace lumaqc
