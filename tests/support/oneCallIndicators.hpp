// The picture indicators called on a state of their own for one call, running
// the best variant this processor has and writing messages to standard
// output: what the unit tests of single pictures need. Indicators that keep
// counts from frame to frame (freezing, flickering) take the test's state.
#pragma once

#include "indicators/indicators.hpp"
#include "simd/isa.hpp"
#include "support/indicatorState.hpp"

namespace lumaqc {

inline double blockiness(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return blockiness(img, state);
}
inline double letterbox(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return letterbox(img, state);
}
inline double pillarbox(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return pillarbox(img, state);
}
inline double spatialActivity(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return spatialActivity(img, state);
}
inline double blockLoss(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return blockLoss(img, state);
}
inline double blur(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return blur(img, state);
}
inline double exposure(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return exposure(img, state);
}
inline double interlace(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return interlace(img, state);
}
inline double noise(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return noise(img, state);
}
inline double slice(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return slice(img, state);
}
inline double contrastRMS(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return contrastRMS(img, state);
}
inline uint8_t blackout(const Image* img) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return blackout(img, state);
}
inline double temporalActivity(const Image* cur, const Image* prev) {
    IndicatorState state = stateFor(bestSupportedIsa());
    return temporalActivity(cur, prev, state);
}

}  // namespace lumaqc
