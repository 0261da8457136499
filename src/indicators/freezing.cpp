#include "indicators/indicators.hpp"

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps) {
    // Consecutive frozen frames so far; belongs to the one video this process
    // analyses and is never reset from outside.
    static int32_t freezingTemp = 0;

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
