// Placeholder until this indicator is built: its column keeps the value 0.
#include "indicators/indicators.hpp"

double pillarbox(const Image*) { return 0.0; }
int checkPillarBar(const uint8_t*, uint32_t, uint32_t, uint32_t) { return 0; }
