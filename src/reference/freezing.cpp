#include "indicators/indicators.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

// Freezing works on two values per frame and has nothing to make faster: the
// indicator is its own reference.
namespace reference {

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps) {
    return lumaqc::freezing(blackoutFlag, temporalActivityValue, fps);
}

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps, int32_t& freezingTemp) {
    IndicatorState state;
    state.freezingTemp = freezingTemp;
    const uint8_t flag = lumaqc::freezing(blackoutFlag, temporalActivityValue, fps, state);
    freezingTemp = state.freezingTemp;
    return flag;
}

}  // namespace reference

}  // namespace lumaqc
