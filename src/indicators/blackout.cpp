// Placeholder until this indicator is built: its column keeps the value 0.
#include "indicators/indicators.hpp"

uint8_t blackout(const Image*) { return 0; }
void minmax(const int32_t*, uint64_t, int32_t*, int32_t*) {}
