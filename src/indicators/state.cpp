#include "indicators/indicators.hpp"

namespace lumaqc {

void reserveScratch(IndicatorState& state, uint64_t w, uint64_t h) {
    reserveBlockLoss(state.blockLoss, w, h);
    reserveBlur(state.blur, w, h);
    reserveNoise(state.noise, w, h);
    reserveSlice(state.slice, w, h);
    reserveFlickering(state.flickering, w, h);
    state.blockSums.resize(static_cast<size_t>(w / BLOCKSIZE));
}


}  // namespace lumaqc
